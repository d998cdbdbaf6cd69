#pragma once
#include <QString>

// How cell values become texts, shared by every format.

// Shortest decimal that reads back to the same double; plain notation for magnitudes from 0.0001
// up to below 1E+15, scientific outside it ("1E+15", "2.5E-07"); "-0" as "0".
QString numberText(double value);

// A spreadsheet serial date (days since the epoch of the workbook's date system, fraction = time
// of day) as ISO 8601: "2024-01-05", "2024-01-05 13:45:00", or "13:45:00" for a time alone
// (serial below 1). Empty when the value is out of the representable range.
QString serialDateText(double serial, bool date1904, bool hasDate, bool hasTime);
