# Writes the .xls fixture of the .xls reader tests with an independent writer (xlwt).
import datetime
import sys

import xlwt

book = xlwt.Workbook(encoding="utf-8")
# Sheets in a non-alphabetical order: position counts, never the name.
zeta = book.add_sheet("Zeta")
alpha = book.add_sheet("Alpha")
book.add_sheet("Middle")  # empty
long_sheet = book.add_sheet("Long")

date_style = xlwt.easyxf(num_format_str="yyyy-mm-dd")
datetime_style = xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm:ss")
time_style = xlwt.easyxf(num_format_str="hh:mm:ss")

# Leading empty rows and columns: the data starts at C3.
zeta.write(2, 2, "Name")
zeta.write(2, 3, "Value")
rows = [
    ("int", 42),
    ("decimal", 2.5),
    ("tenth", 0.1),
    ("negative", -7.25),
    ("large", 123456789012),
    ("huge", 1e15),
    ("tiny", 2.5e-7),
    ("minus zero", -0.0),
    ("text", "Zoë\tTab\nLine"),
    ("boolean", True),
]
for i, (name, value) in enumerate(rows):
    zeta.write(3 + i, 2, name)
    zeta.write(3 + i, 3, value)
zeta.write(13, 2, "date")
zeta.write(13, 3, datetime.date(2024, 1, 5), date_style)
zeta.write(14, 2, "datetime")
zeta.write(14, 3, datetime.datetime(2024, 1, 5, 13, 45, 0), datetime_style)
zeta.write(15, 2, "time")
zeta.write(15, 3, datetime.time(9, 30, 0), time_style)
# A blank cell with a style only: formatting is not content.
zeta.write(20, 7, "", date_style)

alpha.write(0, 0, "first of Alpha")
alpha.write(1, 1, 7)

for r in range(500):
    long_sheet.write(r, 0, "row %d" % (r + 1))
    long_sheet.write(r, 1, r + 1)

book.save(sys.argv[1])
