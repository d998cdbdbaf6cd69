#pragma once
#include <QString>

class Shell;

// The program's home page, kept only enciphered (DES under the program key, written in the
// program's own digits) so that the address is not lying in the binary as plain text. The about
// box's link and the new-release command both open this one stored text.
inline constexpr char kHomePageCipher[] = "15A3BA9025D7C99C3FA676925E18123F383B5E0C3A6B3304236763EC5CE5DC97";
inline constexpr char kProgramKey[] = "kq83wzt5";

// Deciphered anew at each call; the empty text when the stored text does not decipher.
QString homePageAddress();

// Help: the user guide beside the program, whatever the language. Whether it is there is the
// desktop's business; the program says nothing of its own.
void openHelp(Shell& shell, const QString& programDir);

// New release: the home page, in the desktop's web browser.
void openHomePage(Shell& shell);
