#include "batch/commands.h"

int runExcelCommand(const QStringList&, QTextStream&, QTextStream& err)
{
    err << "tallyweave-batch: the excel command is not built yet\n";
    return 1;
}
