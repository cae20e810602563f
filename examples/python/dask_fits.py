"""Fits a large set of contours on a Dask cluster: zfit.fit_many mapped over
the partitions of a Dask bag.

    python3 examples/python/dask_fits.py                       # worker processes
    python3 examples/python/dask_fits.py --scheduler distributed --workers 4
    python3 examples/python/dask_fits.py --count 200000 --partitions 32

The contours are simulated holes of a plate seen by a camera: circles of
random centre and radius, 50 edge points each with pixel noise, and now and
then a contour cut short by glare. Each partition is fitted by one fit_many
call (its threads release the GIL), and the results come back in input
order: CircleFit objects, or FitError instances for contours that could not
be fitted (both pickle, so they travel between processes).
"""
import argparse
import functools
import time

import dask.bag
import numpy as np

import zfit


def plate_holes(count, points=50, seed=0):
    """`count` contours of `points` edge points (x, y in pixels), every 97th
    cut down to two points by glare (those cannot be fitted)."""
    rng = np.random.default_rng(seed)
    holes = []
    for i in range(count):
        centre, radius = rng.uniform(0, 4000, 2), rng.uniform(5, 40)
        angles = rng.uniform(0, 2 * np.pi, points)
        edge = centre + radius * np.column_stack([np.cos(angles), np.sin(angles)])
        edge += rng.normal(0, 0.2, edge.shape)
        holes.append(edge[:2] if i % 97 == 13 else edge)
    return holes


def fit_on_dask(family, point_sets, partitions, scheduler="processes", threads=1, **options):
    """What zfit.fit_many(family, point_sets, **options) returns, in the same
    order, computed partition by partition by a Dask scheduler: "processes",
    "threads", "sync" or a dask.distributed Client. Each partition's
    fit_many call runs on `threads` threads (0: one per core of its worker)."""
    bag = dask.bag.from_sequence(point_sets, npartitions=partitions)
    fit_partition = functools.partial(zfit.fit_many, family, threads=threads, **options)
    return bag.map_partitions(fit_partition).compute(scheduler=scheduler)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=20000, help="contours to fit")
    parser.add_argument("--partitions", type=int, default=8, help="partitions of the bag")
    parser.add_argument("--scheduler", choices=["processes", "threads", "distributed"], default="processes")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the distributed cluster")
    parser.add_argument("--ignore", type=int, default=0, help="outliers to discard per contour")
    args = parser.parse_args()

    holes = plate_holes(args.count)
    start = time.perf_counter()
    if args.scheduler == "distributed":
        from dask.distributed import Client, LocalCluster

        with LocalCluster(n_workers=args.workers, threads_per_worker=1) as cluster, Client(cluster) as client:
            fits = fit_on_dask("circle", holes, args.partitions, client, ignore=args.ignore)
    else:
        # The thread scheduler runs the partitions side by side in this
        # process; fit_many's own threads are then not needed.
        fits = fit_on_dask("circle", holes, args.partitions, args.scheduler, ignore=args.ignore)
    seconds = time.perf_counter() - start

    failed = [f for f in fits if isinstance(f, zfit.FitError)]
    radii = np.array([f.radius for f in fits if not isinstance(f, zfit.FitError)])
    print("%d contours in %.2f s (%d partitions, %s): %d could not be fitted (%s), radii %.2f to %.2f px"
          % (len(fits), seconds, args.partitions, args.scheduler, len(failed),
             type(failed[0]).__name__ if failed else "-", radii.min(), radii.max()))


if __name__ == "__main__":
    main()
