"""Reads every cell of sheet 1 with pandas' odf engine: baseline.py FILE.ods
Prints the number of cells holding a value."""
import sys

import pandas as pd

frame = pd.read_excel(sys.argv[1], engine="odf", sheet_name=0, header=None)
print(int(frame.notna().sum().sum()))
