#pragma once
#include <QString>

// Opens a document, folder or web address with the program the desktop associates with it.
// Fire and forget: nothing waits for or checks the result.
class Shell {
public:
    virtual ~Shell() = default;
    virtual void open(const QString& target) = 0;
};
