// The valid-address rule that decides which rows of a bulk run get a message.
#include "mail/address.h"

#include <QtTest>

class TestAddress : public QObject {
    Q_OBJECT
private slots:
    void rule_data();
    void rule();
};

void TestAddress::rule_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("usable");
    QTest::newRow("plain address") << "ann@example.org" << true;
    QTest::newRow("digits, dash and underscore") << "a_1-b@mail-2.example.co" << true;
    QTest::newRow("shortest usable") << "a@b.c" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("plus addressing") << "erin+tag@example.com" << true;
    QTest::newRow("two plus signs before the at") << "erin+a+b@example.com" << true;
    QTest::newRow("plus right before the at") << "erin+@example.com" << true;
    QTest::newRow("plus first") << "+erin@example.com" << true;
    QTest::newRow("plus in the domain") << "erin@exa+mple.com" << false;
    QTest::newRow("plus as the whole local part") << "+@example.com" << true;
    QTest::newRow("plus with a space") << "erin+ tag@example.com" << false;
    QTest::newRow("plus and a display name") << "Erin <erin+tag@example.com>" << false;
    QTest::newRow("space inside") << "ann @example.org" << false;
    QTest::newRow("display name in angle brackets") << "Ann <ann@example.org>" << false;
    QTest::newRow("domain without a dot") << "ann@localhost" << false;
    QTest::newRow("dot right after the at") << "ann@.example.org" << false;
    QTest::newRow("dot only as the character after the at") << "ann@.org" << false;
    QTest::newRow("dot only in second place after the at") << "ann@e.org" << true;
    QTest::newRow("last character a dot") << "ann@example.org." << false;
    QTest::newRow("dot right before the at") << "ann.@example.org" << true;
    QTest::newRow("two dots in a row before the at") << "a..nn@example.org" << true;
    QTest::newRow("two dots in a row after the at") << "ann@example..org" << true;
    QTest::newRow("two at signs") << "ann@x@example.org" << false;
    QTest::newRow("no at sign") << "ann.example.org" << false;
    QTest::newRow("at first") << "@example.org" << false;
    QTest::newRow("at last") << "ann.example.org@" << false;
    QTest::newRow("non-ASCII letter") << QString::fromUtf8("jürgen@example.org") << false;
    QTest::newRow("fullwidth at sign") << QString::fromUtf8("ann＠example.org") << false;
    QTest::newRow("only an at sign") << "@" << false;
    QTest::newRow("dot before the last character only") << "a@bc." << false;
    QTest::newRow("line break inside") << "ann@exam\nple.org" << false;
}

void TestAddress::rule()
{
    QFETCH(QString, text);
    QTEST(isUsableAddress(text), "usable");
}

QTEST_APPLESS_MAIN(TestAddress)
#include "tst_address.moc"
