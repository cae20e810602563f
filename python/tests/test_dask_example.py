"""examples/python/dask_fits.py: fit_many mapped over the partitions of a
Dask bag on worker processes gives the serial results, in order."""
import pathlib
import runpy
import types

import zfit
from test_many import assert_same

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "python" / "dask_fits.py"


def load_example():
    return types.SimpleNamespace(**runpy.run_path(str(EXAMPLE), run_name="dask_fits"))


def test_process_scheduler_gives_the_serial_results_in_order():
    example = load_example()
    holes = example.plate_holes(60, points=12, seed=3)
    fits = example.fit_on_dask("circle", holes, partitions=5, scheduler="processes", ignore=1)
    serial = zfit.fit_many("circle", holes, threads=1, ignore=1)
    assert len(fits) == len(holes), "one entry per contour"
    assert isinstance(fits[13], zfit.DegenerateError), "the contour cut short by glare failed"
    for i, (got, expected) in enumerate(zip(fits, serial)):
        assert_same(got, expected, "contour %d" % i)
