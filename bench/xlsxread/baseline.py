"""Reads every cell of a workbook with openpyxl in read-only mode: baseline.py FILE
Prints: seconds peak-KiB cells cpu-seconds"""
import resource
import sys
import time

import openpyxl

start = time.perf_counter()
book = openpyxl.load_workbook(sys.argv[1], read_only=True)
cells = 0
for row in book.worksheets[0].iter_rows(values_only=True):
    for value in row:
        if value is not None:
            cells += 1
book.close()
elapsed = time.perf_counter() - start
usage = resource.getrusage(resource.RUSAGE_SELF)
print(f"{elapsed:.3f} {usage.ru_maxrss} {cells} {usage.ru_utime + usage.ru_stime:.3f}")
