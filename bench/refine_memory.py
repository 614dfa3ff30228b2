"""Peak RSS of a search at 50,000 rows on 1, 2, 8 and 24 refinement threads,
each case in a process of its own (peak RSS only grows within a process).

    python3 bench/refine_memory.py [path/to/bench_refine_memory]
"""

import json
import subprocess
import sys

binary = sys.argv[1] if len(sys.argv) > 1 else "build/cpp/bench/bench_refine_memory"
print("threads  peak RSS (MiB)  before the search (MiB)  wall (s)")
for threads in (1, 2, 8, 24):
    out = subprocess.run(
        [binary, f"--benchmark_filter=BM_SearchPeakRss/50000/{threads}/", "--benchmark_format=json"],
        check=True, capture_output=True, text=True,
    ).stdout
    run = json.loads(out)["benchmarks"][0]
    print(f"{threads:7d}  {run['peak_rss_MiB']:14.1f}  {run['before_MiB']:23.1f}  {run['real_time'] / 1000:8.1f}")
