"""zfit.roundness: the three reference circles measured back with numpy,
the method's names and the exceptions it raises (the result protocol is
every result class's: test_binding)."""
import math

import numpy as np
import pytest

import zfit

METHODS = ["minimum_zone", "circumscribed", "inscribed"]


def lobed(rng, n=300, centre=(40.2, 31.7), radius=12.5, amplitude=0.004, lobes=3):
    t = np.sort(rng.uniform(0, 2 * math.pi, n))
    r = radius + amplitude * np.cos(lobes * t + rng.uniform(0, 6)) + rng.normal(0, amplitude / 10, n)
    return np.column_stack([centre[0] + r * np.cos(t), centre[1] + r * np.sin(t)])


@pytest.mark.parametrize("method", METHODS)
def test_radii_are_the_extreme_distances_and_contacts_touch_them(rng, method):
    points = lobed(rng)
    r = zfit.roundness(points, method)
    d = np.hypot(*(points - r.centre).T)
    assert r.method == method
    assert r.inner_radius == pytest.approx(d.min(), rel=1e-12)
    assert r.outer_radius == pytest.approx(d.max(), rel=1e-12)
    touched = np.where(r.contact_on_outer, r.outer_radius, r.inner_radius)
    assert d[r.contacts] == pytest.approx(touched, rel=1e-9), "every contact lies on its circle"


def test_the_zone_is_the_default_under_either_name(rng):
    points = lobed(rng)
    zone = zfit.roundness(points)
    assert zone.method == "minimum_zone"
    for name in ("zone", "minimum_zone"):
        other = zfit.roundness(points, name)
        assert other.method == "minimum_zone", "%s reports the one name" % name
        assert other.centre.tolist() == zone.centre.tolist(), name
        assert other.roundness == zone.roundness, name


def test_validity_follows_the_limit(rng):
    points = lobed(rng)
    roundness = zfit.roundness(points).roundness
    assert zfit.roundness(points, max_roundness=math.nextafter(roundness, math.inf)).is_valid
    assert not zfit.roundness(points, max_roundness=roundness).is_valid


# The statuses themselves are the C tests'; here, that the method and the
# timeout reach the library and its refusals come back as exceptions, and that
# a method or shape the binding does not know is a ValueError (no status).
ARC = [(10 * math.cos(t), 10 * math.sin(t)) for t in np.linspace(0, 2, 30)]
REFUSALS = [
    (lambda: zfit.roundness(ARC, "inscribed"), zfit.DegenerateError, "zmet_errProfileOpen"),
    (lambda: zfit.roundness(lobed(np.random.default_rng(1), 5000), timeout=0.0), zfit.Cancelled,
     "zsys_errCancelled"),
    (lambda: zfit.roundness(ARC, "oval"), ValueError, None),
]


@pytest.mark.parametrize("call,error,name", REFUSALS, ids=["%s %d" % (r[2], i) for i, r in enumerate(REFUSALS)])
def test_refusals_raise_their_status(call, error, name):
    with pytest.raises(error) as raised:
        call()
    if name:
        assert raised.value.name == name, "the library's status"
