#include "app/homepage.h"
#include "codec/tdesencrypt.h"
#include "platform/shell.h"

QString homePageAddress() {
    return QString::fromUtf8(DesDecryptFromHex(QLatin1String(kHomePageCipher), QByteArray(kProgramKey)));
}

void openHelp(Shell& shell, const QString& programDir) {
    shell.open(programDir + QLatin1String("Help.html"));
}

void openHomePage(Shell& shell) {
    shell.open(homePageAddress());
}
