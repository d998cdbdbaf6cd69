#pragma once
#include <QIcon>

// The 32 x 32 pictures of the main window's toolbar, drawn rather than shipped.
enum class ToolbarPicture {
    SheetToSheet,
    SheetToDocument,
    SheetToMail,
    BulkMail,
    Options,
    Help,
    About,
    Release,
};

QIcon toolbarIcon(ToolbarPicture picture);
