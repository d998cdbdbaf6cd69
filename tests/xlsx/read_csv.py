"""Prints the rows of a CSV file as JSON, as Python's csv module reads them: read_csv.py FILE"""
import csv
import json
import sys

with open(sys.argv[1], newline="", encoding="utf-8-sig") as f:
    json.dump(list(csv.reader(f)), sys.stdout)
