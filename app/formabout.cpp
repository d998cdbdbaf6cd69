#include "app/formabout.h"
#include "app/homepage.h"
#include "app/localization.h"
#include "app/services.h"

#include <QApplication>
#include <QDate>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>

namespace {

const QString kSection = QStringLiteral("AboutForm");

// The product name keeps this face whatever the language file says: every attribute is set
// here, so none of them is taken from the window font.
QFont productNameFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(13);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    return font;
}

} // namespace

QPixmap aboutPicture() {
    QPixmap picture(64, 64);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    // The drawing keeps to the upper 52 rows: the home-page address, in a wide font, may run on
    // beneath the picture.
    constexpr qreal kScale = 52.0 / 60.0;
    p.translate(32 - 32 * kScale, -2 * kScale);
    p.scale(kScale, kScale);

    // A worksheet whose rows are woven into a letter: what the program does.
    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(0x2E, 0x8B, 0x7A));
    tile.setColorAt(1, QColor(0x1F, 0x5F, 0x8B));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);

    const QRectF sheet(9, 8, 30, 30);
    p.setBrush(Qt::white);
    p.drawRect(sheet);
    p.setPen(QPen(QColor(0x9C, 0xB8, 0xC8), 1));
    for (int row = 1; row < 5; ++row)
        p.drawLine(QPointF(sheet.left(), sheet.top() + row * 6),
                   QPointF(sheet.right(), sheet.top() + row * 6));
    p.drawLine(QPointF(sheet.left() + 10, sheet.top()), QPointF(sheet.left() + 10, sheet.bottom()));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2E, 0x8B, 0x7A));
    p.drawRect(QRectF(sheet.left(), sheet.top(), sheet.width(), 6));

    const QRectF letter(27, 36, 29, 20);
    p.setBrush(QColor(0xFF, 0xF4, 0xD6));
    p.setPen(QPen(QColor(0x8A, 0x5A, 0x14), 1.5));
    p.drawRect(letter);
    QPainterPath flap;
    flap.moveTo(letter.topLeft());
    flap.lineTo(letter.center().x(), letter.top() + 12);
    flap.lineTo(letter.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);

    // One row of the sheet, marked, goes into the letter.
    const QRectF record(sheet.left() + 1, sheet.top() + 12.5, sheet.width() - 1, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF2, 0xA9, 0x00));
    p.drawRect(record);
    p.setPen(QPen(QColor(0xF2, 0xA9, 0x00), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath arrow;
    arrow.moveTo(record.right() + 1, record.center().y());
    const qreal shaft = letter.center().x() + 7;
    arrow.quadTo(shaft, record.center().y(), shaft, letter.top() - 3);
    p.drawPath(arrow);
    QPainterPath head;
    head.moveTo(shaft - 4.5, letter.top() - 7);
    head.lineTo(shaft, letter.top() - 2);
    head.lineTo(shaft + 4.5, letter.top() - 7);
    p.drawPath(head);
    return picture;
}

TAboutForm::TAboutForm(Services& services, QWidget* parent, std::function<int()> currentYear)
    : QDialog(parent), m_services(services), m_currentYear(std::move(currentYear)) {
    if (!m_currentYear)
        m_currentYear = [] { return QDate::currentDate().year(); };
    setObjectName(QStringLiteral("AboutForm"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(330, 165);
    setWindowTitle(QStringLiteral("About"));

    m_bevel1 = new QFrame(this);
    m_bevel1->setObjectName(QStringLiteral("Bevel1"));
    m_bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    m_bevel1->setGeometry(8, 8, 314, 110);

    m_image1 = new QLabel(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setGeometry(240, 16, 64, 64);
    m_image1->setPixmap(aboutPicture());

    m_labelName = addLabel("LabelName", 24, 16, QStringLiteral("Tallyweave"));
    m_labelName->setFont(productNameFont());
    m_labelVersion1 = addLabel("LabelVersion1", 24, 51, QStringLiteral("Version:"));
    m_labelVersion2 = addLabel("LabelVersion2", 85, 51, QStringLiteral("1.0"));
    m_labelHome1 = addLabel("LabelHome1", 24, 70, QStringLiteral("Homepage:"));
    m_labelHome2 = addLabel("LabelHome2", 85, 70, shownAddress());
    m_labelHome2->installEventFilter(this);
    m_labelCopyright = addLabel("LabelCopyright", 24, 89);

    m_bevel2 = new QFrame(this);
    m_bevel2->setObjectName(QStringLiteral("Bevel2"));
    m_bevel2->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    m_bevel2->setGeometry(8, 124, 314, 2);

    m_buttonOk = new QPushButton(QStringLiteral("Ok"), this);
    m_buttonOk->setObjectName(QStringLiteral("ButtonOk"));
    m_buttonOk->setGeometry(120, 132, 75, 25);
    m_buttonOk->setDefault(true);
    connect(m_buttonOk, &QPushButton::clicked, this, &QDialog::accept);

    arrangeLabels();
    publishObjectNames(this);
}

QString TAboutForm::shownAddress() {
    return QStringLiteral("https://tallyweave.example.org/");
}

QLabel* TAboutForm::addLabel(const char* name, int left, int top, const QString& text) {
    auto* label = new QLabel(text, this);
    label->setObjectName(QLatin1String(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

void TAboutForm::applyTexts(const Texts& texts) {
    setWindowTitle(texts.text(kSection, QStringLiteral("Caption")));
    m_labelVersion1->setText(texts.text(kSection, QStringLiteral("Version")));
    m_labelHome1->setText(texts.text(kSection, QStringLiteral("Homepage")));
    m_labelCopyright->setText(
        fillMarker(texts.text(kSection, QStringLiteral("Copyright")), QString::number(m_currentYear())));
    m_buttonOk->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Ok")));
    arrangeLabels();
}

void TAboutForm::arrangeLabels() {
    if (!m_labelCopyright)
        return; // a font change while the box is still being built
    // Labels size themselves to their text, like auto-sized labels.
    for (QLabel* label :
         {m_labelName, m_labelVersion1, m_labelVersion2, m_labelHome1, m_labelHome2, m_labelCopyright})
        label->adjustSize();
    // The values stand at their column unless a caption in the language's font is wider than the
    // room before it; then both move right together rather than be overwritten.
    constexpr int kValueColumn = 85;
    constexpr int kGap = 4;
    const int captionsEnd =
        std::max(m_labelVersion1->x() + m_labelVersion1->width(), m_labelHome1->x() + m_labelHome1->width());
    const int column = std::max(kValueColumn, captionsEnd + kGap);
    m_labelVersion2->move(column, m_labelVersion2->y());
    m_labelHome2->move(column, m_labelHome2->y());
}

void TAboutForm::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        arrangeLabels();
}

void TAboutForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TAboutForm::FormShow() {
    m_labelHome2->setCursor(Qt::PointingHandCursor);
    // The box may have closed with the mouse over the link, which then never saw it leave.
    setLinkLook(false);
}

void TAboutForm::LabelHome2MouseEnter() {
    setLinkLook(true);
}

void TAboutForm::LabelHome2MouseLeave() {
    setLinkLook(false);
}

void TAboutForm::LabelHome2Click() {
    m_services.shell.open(m_linkTarget);
}

void TAboutForm::setLinkLook(bool hot) {
    QPalette palette = m_labelHome2->palette();
    palette.setColor(QPalette::WindowText,
                     hot ? QColor(Qt::blue) : QApplication::palette().color(QPalette::WindowText));
    m_labelHome2->setPalette(palette);
    // A widget's font carries only its own attributes as set: face and size keep following the
    // window font, and styles given to the label itself stay.
    QFont font = m_labelHome2->font();
    font.setUnderline(hot);
    m_labelHome2->setFont(font);
    arrangeLabels();
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_labelHome2) {
        switch (event->type()) {
        case QEvent::Enter:
            LabelHome2MouseEnter();
            break;
        case QEvent::Leave:
            LabelHome2MouseLeave();
            break;
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton &&
                m_labelHome2->rect().contains(mouse->position().toPoint()))
                LabelHome2Click();
            break;
        }
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void showAboutBox(TAboutForm& box) {
    box.setLinkTarget(homePageAddress());
    box.exec();
}
