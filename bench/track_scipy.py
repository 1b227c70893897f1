"""The same linking in SciPy: for each step, the candidates within the largest step from a KD-tree
(cKDTree.sparse_distance_matrix), the groups that compete (connected components), and each group's
assignment of least total squared step by linear_sum_assignment, a bubble free to end or start a
track at the cost the tracking gives it. Prints the seconds and the share of wrong links.
Usage: track_scipy.py POSITIONS FRAMES BUBBLES MAX_STEP"""
import sys
import time

import numpy as np
from scipy.optimize import linear_sum_assignment
from scipy.sparse import bmat, csr_matrix
from scipy.sparse.csgraph import connected_components
from scipy.spatial import cKDTree


def main():
    path, frames, bubbles, step = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
    xy = np.fromfile(path, dtype=np.float64).reshape(frames, bubbles, 2)
    alone = 1.05 * step * step
    start = time.perf_counter()
    ids = np.arange(bubbles)
    next_id = bubbles
    all_ids = [ids]
    for f in range(1, frames):
        a, b = xy[f - 1], xy[f]
        d = cKDTree(a).sparse_distance_matrix(cKDTree(b), step, output_type="coo_matrix")
        cost = csr_matrix((d.data ** 2, (d.row, d.col)), shape=(bubbles, bubbles))
        graph = bmat([[None, cost], [cost.T, None]]).tocsr()
        count, label = connected_components(graph, directed=False)
        new = np.full(bubbles, -1)
        rows_of = label[:bubbles]
        cols_of = label[bubbles:]
        order_r, order_c = np.argsort(rows_of, kind="stable"), np.argsort(cols_of, kind="stable")
        starts_r = np.searchsorted(rows_of[order_r], np.arange(count + 1))
        starts_c = np.searchsorted(cols_of[order_c], np.arange(count + 1))
        dense_cost = cost.tolil()
        for g in range(count):
            r = order_r[starts_r[g]:starts_r[g + 1]]
            c = order_c[starts_c[g]:starts_c[g + 1]]
            if len(r) == 0 or len(c) == 0:
                continue
            if len(r) == 1 and len(c) == 1:
                new[c[0]] = ids[r[0]]
                continue
            block = dense_cost[r][:, c].toarray()
            big = np.full((len(r) + len(c), len(c) + len(r)), np.inf)
            big[:len(r), :len(c)] = np.where(block > 0, block, np.inf)
            big[:len(r), len(c):][np.diag_indices(len(r))] = alone
            big[len(r):, :len(c)][np.diag_indices(len(c))] = alone
            big[len(r):, len(c):] = np.where(np.isfinite(big[:len(r), :len(c)]).T, 0, np.inf)
            big[~np.isfinite(big)] = 1e18
            rr, cc = linear_sum_assignment(big)
            for i, j in zip(rr, cc):
                if i < len(r) and j < len(c):
                    new[c[j]] = ids[r[i]]
        fresh = new < 0
        new[fresh] = np.arange(next_id, next_id + fresh.sum())
        next_id += int(fresh.sum())
        ids = new
        all_ids.append(ids)
    seconds = time.perf_counter() - start
    links = wrong = 0
    for f in range(1, frames):
        before = {t: k for k, t in enumerate(all_ids[f - 1])}
        for k, t in enumerate(all_ids[f]):
            if t in before:
                links += 1
                wrong += before[t] != k
    print(f"{seconds:.3f} {links} {wrong}")


if __name__ == "__main__":
    main()
