// Label replacement in a document's paragraphs: which occurrences are found (letter case, runs,
// marks between runs, barriers, containers), what the value turns into, and where it lands.
#include "office/workbook.h"
#include "office/docxdocument.h"
#include "office/zipfile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <pugixml.hpp>
#include <zip.h>

namespace {

const char* kDocumentStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
    "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
    "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" "
    "xmlns:wps=\"http://schemas.microsoft.com/office/word/2010/wordprocessingShape\" "
    "xmlns:v=\"urn:schemas-microsoft-com:vml\"><w:body>";
const char* kDocumentEnd = "<w:sectPr/></w:body></w:document>";

// A package of the least a reader needs around the given body.
QString writePackage(const QString& path, const QByteArray& body) {
    static const QByteArray types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/word/document.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
        "</Types>";
    static const QByteArray rels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
        "Target=\"word/document.xml\"/></Relationships>";
    const QByteArray document = kDocumentStart + body + kDocumentEnd;
    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!zip)
        return QStringLiteral("cannot create ") + path;
    const std::pair<const char*, const QByteArray*> entries[] = {
        {"[Content_Types].xml", &types}, {"_rels/.rels", &rels}, {"word/document.xml", &document}};
    for (const auto& [name, data] : entries) {
        zip_source_t* source = zip_source_buffer(zip, data->constData(), zip_uint64_t(data->size()), 0);
        if (!source || zip_file_add(zip, name, source, 0) < 0) {
            zip_discard(zip);
            return QStringLiteral("cannot add ") + QLatin1String(name);
        }
    }
    return zip_close(zip) == 0 ? QString() : QStringLiteral("cannot close ") + path;
}

QByteArray runs(const QByteArray& text) {
    return "<w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r>";
}
QByteArray bold(const QByteArray& text) {
    return "<w:r><w:rPr><w:b/></w:rPr><w:t>" + text + "</w:t></w:r>";
}
QByteArray italic(const QByteArray& text) {
    return "<w:r><w:rPr><w:i/></w:rPr><w:t>" + text + "</w:t></w:r>";
}
QByteArray para(const QByteArray& content) {
    return "<w:p>" + content + "</w:p>";
}

bool isW(const pugi::xml_node& node, const char* name) {
    return node.type() == pugi::node_element && QByteArray(node.name()) == QByteArray("w:") + name;
}

// Every paragraph of the part in document order, nested ones (text boxes, cells) after the one
// that holds them; deleted text shown in braces.
void paragraphTexts(const pugi::xml_node& node, const pugi::xml_node& paragraph, QString& current,
                    QStringList& out) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (isW(c, "p")) {
            QString text;
            const qsizetype at = out.size();
            out << QString();
            paragraphTexts(c, c, text, out);
            out[at] = text;
        } else if (isW(c, "t")) {
            current += QString::fromUtf8(c.child_value());
        } else if (isW(c, "delText")) {
            current += u'{' + QString::fromUtf8(c.child_value()) + u'}';
        } else if (isW(c, "tab")) {
            current += u'\t';
        } else if (isW(c, "br") || isW(c, "cr")) {
            current += u'\n';
        } else {
            paragraphTexts(c, paragraph, current, out);
        }
    }
}

QStringList readParagraphs(const QString& path, pugi::xml_document& doc) {
    const ZipArchive zip(path);
    const QByteArray xml = zip.read(QStringLiteral("word/document.xml"));
    if (!doc.load_buffer(xml.constData(), size_t(xml.size()), pugi::parse_default | pugi::parse_ws_pcdata))
        return {QStringLiteral("<unreadable>")};
    QStringList out;
    QString outside;
    paragraphTexts(doc.document_element(), pugi::xml_node(), outside, out);
    return out;
}

using Pairs = QList<QPair<QString, QString>>;

} // namespace

class TestDocxReplace : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void replacement_data();
    void replacement();
    void valueTakesTheFormattingOfTheFirstRun();
    void editedTextKeepsItsSpaces();
    void countsTheOccurrences();

private:
    // together: every pair in one replaceEach, a paragraph at a time, instead of replaceAll in turn.
    QStringList merge(const QByteArray& body, const Pairs& pairs, pugi::xml_document& doc, bool together = false);
    QTemporaryDir m_dir;
    int m_serial = 0;
};

QStringList TestDocxReplace::merge(const QByteArray& body, const Pairs& pairs, pugi::xml_document& doc,
                                   bool together) {
    const QString in = m_dir.filePath(QStringLiteral("in%1.docx").arg(++m_serial));
    const QString out = m_dir.filePath(QStringLiteral("out%1.docx").arg(m_serial));
    const QString error = writePackage(in, body);
    if (!error.isEmpty())
        return {error};
    try {
        const docx::DocxTemplate tpl(in);
        docx::DocxDocument document(tpl, docx::DocxDocument::Scope::Whole);
        if (together) {
            QList<std::pair<QString, QString>> list;
            for (const auto& [label, value] : pairs)
                list.append({label, value});
            document.replaceEach(list);
        } else {
            for (const auto& [label, value] : pairs)
                document.replaceAll(label, value);
        }
        document.saveAs(out);
    } catch (const WorkbookError& e) {
        return {e.cause()};
    }
    return readParagraphs(out, doc);
}

void TestDocxReplace::replacement_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Pairs>("pairs");
    QTest::addColumn<QStringList>("expected");
    const Pairs name = {{QStringLiteral("«NAME»"), QStringLiteral("Ann")}};
    const QByteArray tab = "<w:r><w:tab/></w:r>";

    QTest::newRow("a label cut across runs of different formatting")
        << para(runs("Dear ") + bold("«NA") + italic("ME»") + runs("!")) << name << QStringList{"Dear Ann!"};
    QTest::newRow("a label cut across three runs")
        << para(runs("«N") + bold("AM") + italic("E»")) << name << QStringList{"Ann"};
    QTest::newRow("any letter case") << para(runs("«name», «Name» and «NaMe»")) << name
                                     << QStringList{"Ann, Ann and Ann"};
    QTest::newRow("accented capitals fold like small letters")
        << para(runs("CITTÀ and Città")) << Pairs{{QStringLiteral("città"), QStringLiteral("Roma")}}
        << QStringList{"Roma and Roma"};
    QTest::newRow("letters beyond the basic plane fold too")
        << para(runs("\xF0\x90\x90\x80X")) << Pairs{{QStringLiteral("\U00010428x"), QStringLiteral("ok")}}
        << QStringList{"ok"};
    QTest::newRow("inside longer words") << para(runs("Surname, NAMESAKE"))
                                         << Pairs{{QStringLiteral("name"), QStringLiteral("X")}}
                                         << QStringList{"SurX, XSAKE"};
    QTest::newRow("proofing marks and bookmarks between runs are passed over")
        << para(runs("«NA") + "<w:proofErr w:type=\"spellStart\"/><w:bookmarkStart w:id=\"0\" w:name=\"b\"/>" +
                runs("ME»") + "<w:bookmarkEnd w:id=\"0\"/><w:proofErr w:type=\"spellEnd\"/>")
        << name << QStringList{"Ann"};
    QTest::newRow("a tab is a barrier") << para(runs("«NA") + tab + runs("ME» «NAME»")) << name
                                        << QStringList{"«NA\tME» Ann"};
    QTest::newRow("a line break inside a run is a barrier")
        << para("<w:r><w:t>«NA</w:t><w:br/><w:t>ME»</w:t></w:r>") << name << QStringList{"«NA\nME»"};
    QTest::newRow("field characters and field codes are barriers")
        << para(runs("«NA") + "<w:r><w:fldChar w:fldCharType=\"begin\"/></w:r>" + runs("ME»") +
                "<w:r><w:instrText>«NAME»</w:instrText></w:r>")
        << name << QStringList{"«NAME»"};
    QTest::newRow("hyperlink, smart tag, insertion, simple field and content control")
        << para("<w:hyperlink r:id=\"rId9\">" + runs("«NA") + bold("ME»") + "</w:hyperlink>" +
                "<w:smartTag w:element=\"x\">" + runs("/«NAME»") + "</w:smartTag>" + "<w:ins w:id=\"1\">" +
                runs("/«NAME»") + "</w:ins><w:fldSimple w:instr=\"QUOTE\">" + runs("/«NAME»") +
                "</w:fldSimple><w:sdt><w:sdtPr><w:alias w:val=\"«NAME»\"/></w:sdtPr><w:sdtContent>" +
                runs("/«NA") + "</w:sdtContent></w:sdt>" + runs("ME»"))
        << name << QStringList{"Ann/Ann/Ann/Ann/Ann"};
    QTest::newRow("deleted text is not searched, and a label may run past it")
        << para("<w:del w:id=\"1\"><w:r><w:delText>«NAME»</w:delText></w:r></w:del>" + runs(" «NA") +
                "<w:del w:id=\"2\"><w:r><w:delText>x</w:delText></w:r></w:del>" + runs("ME»"))
        << name << QStringList{"{«NAME»} Ann{x}"};
    QTest::newRow("a label does not run from one paragraph into the next")
        << para(runs("«NA")) + para(runs("ME»")) << name << QStringList{"«NA", "ME»"};
    QTest::newRow("tables and nested tables")
        << QByteArray("<w:tbl><w:tr><w:tc>" + para(runs("«NAME»")) + "<w:tbl><w:tr><w:tc>" + para(bold("«name»")) +
                      "</w:tc></w:tr></w:tbl></w:tc></w:tr></w:tbl>")
        << name << QStringList{"Ann", "Ann"};
    QTest::newRow("both copies of a text box, each paragraph on its own")
        << para(runs("Box: ") +
                "<w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing><wps:txbx><w:txbxContent>" +
                para(runs("«NA") + bold("ME»")) +
                "</w:txbxContent></wps:txbx></w:drawing></mc:Choice><mc:Fallback><w:pict><v:textbox>"
                "<w:txbxContent>" +
                para(runs("«NAME»")) + "</w:txbxContent></v:textbox></w:pict></mc:Fallback></mc:AlternateContent></w:r>" +
                runs("«NA"))
        << name << QStringList{"Box: «NA", "Ann", "Ann"};
    QTest::newRow("a pair does not search its own value again")
        << para(runs("a-A")) << Pairs{{QStringLiteral("a"), QStringLiteral("aa")}} << QStringList{"aa-aa"};
    QTest::newRow("a later pair replaces inside an earlier pair's value")
        << para(runs("«A»")) << Pairs{{QStringLiteral("«A»"), QStringLiteral("«B»!")}, {QStringLiteral("«B»"), QStringLiteral("b")}}
        << QStringList{"b!"};
    QTest::newRow("an earlier pair does not see a later pair's value")
        << para(runs("«A»")) << Pairs{{QStringLiteral("«B»"), QStringLiteral("b")}, {QStringLiteral("«A»"), QStringLiteral("«B»")}}
        << QStringList{"«B»"};
    QTest::newRow("occurrences side by side and across runs")
        << para(runs("«N»«n»") + runs("«") + bold("N»")) << Pairs{{QStringLiteral("«N»"), QStringLiteral("1")}}
        << QStringList{"111"};
    QTest::newRow("a tab and line breaks in a value become their elements")
        << para(runs("[«NAME»]")) << Pairs{{QStringLiteral("«NAME»"), QStringLiteral("a\tb\nc\r\nd\re")}}
        << QStringList{"[a\tb\nc\nd\ne]"};
    QTest::newRow("a value broken in the middle of a later occurrence's run")
        << para(runs("«N»-«N»")) << Pairs{{QStringLiteral("«N»"), QStringLiteral("x\ty")}}
        << QStringList{"x\ty-x\ty"};
    QTest::newRow("markup characters arrive as written")
        << para(runs("«NAME»")) << Pairs{{QStringLiteral("«NAME»"), QStringLiteral("& < > \" ' ]]>")}}
        << QStringList{"& < > \" ' ]]>"};
    QTest::newRow("characters a document cannot hold are dropped")
        << para(runs("«NAME»")) << Pairs{{QStringLiteral("«NAME»"), QStringLiteral("a\x01" "b\x1F" "c")}}
        << QStringList{"abc"};
    QTest::newRow("an empty label replaces nothing")
        << para(runs("text")) << Pairs{{QString(), QStringLiteral("x")}} << QStringList{"text"};
    QTest::newRow("an empty value removes the label")
        << para(runs("[") + bold("«NA") + runs("ME»]")) << Pairs{{QStringLiteral("«NAME»"), QString()}}
        << QStringList{"[]"};
}

void TestDocxReplace::replacement() {
    QFETCH(QByteArray, body);
    QFETCH(Pairs, pairs);
    QFETCH(QStringList, expected);
    pugi::xml_document doc;
    QCOMPARE(merge(body, pairs, doc), expected);
    // The way a run replaces: the pairs in one pass over the paragraphs, with the same result.
    pugi::xml_document together;
    QCOMPARE(merge(body, pairs, together, true), expected);
}

void TestDocxReplace::valueTakesTheFormattingOfTheFirstRun() {
    pugi::xml_document doc;
    const QStringList texts = merge(para(runs("Dear ") + bold("«NA") + italic("ME»")),
                                    {{QStringLiteral("«NAME»"), QStringLiteral("Ann")}}, doc);
    QCOMPARE(texts, QStringList{"Dear Ann"});
    const pugi::xpath_node hit = doc.select_node("//w:r[w:t='Ann']");
    QVERIFY2(hit, "the value sits in a run of its own text");
    QVERIFY2(hit.node().child("w:rPr").child("w:b"), "the run where the label started keeps its bold");
    QVERIFY(doc.select_node("//w:r[w:rPr/w:i]/w:t[.='']"));
}

void TestDocxReplace::editedTextKeepsItsSpaces() {
    pugi::xml_document doc;
    const QStringList texts =
        merge(para(bold("«A»")), {{QStringLiteral("«A»"), QStringLiteral("  two  spaces  ")}}, doc);
    QCOMPARE(texts, QStringList{"  two  spaces  "});
    const pugi::xpath_node t = doc.select_node("//w:t");
    QCOMPARE(QByteArray(t.node().attribute("xml:space").value()), QByteArray("preserve"));
}

void TestDocxReplace::countsTheOccurrences() {
    const QString in = m_dir.filePath(QStringLiteral("count.docx"));
    QVERIFY(writePackage(in, para(runs("«A» «a» ") + bold("«") + runs("A»"))).isEmpty());
    const docx::DocxTemplate tpl(in);
    docx::DocxDocument document(tpl, docx::DocxDocument::Scope::Whole);
    QCOMPARE(document.replaceAll(QStringLiteral("«A»"), QStringLiteral("«A»")), 3);
    QCOMPARE(document.replaceAll(QStringLiteral("«b»"), QStringLiteral("x")), 0);
}

QTEST_GUILESS_MAIN(TestDocxReplace)
#include "tst_docxreplace.moc"
