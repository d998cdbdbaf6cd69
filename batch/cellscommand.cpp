#include "batch/commands.h"

int runCellsCommand(const QStringList&, QTextStream&, QTextStream& err)
{
    err << "tallyweave-batch: the cells command is not built yet\n";
    return 1;
}
