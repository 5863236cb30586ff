#include "widgets/masked_edit.h"

#include "model/tables.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QRegularExpression>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace
{

constexpr QChar kDigitPlace = QLatin1Char('#');
constexpr QChar kDecimalPlace = QLatin1Char(',');

QChar decimalPoint()
{
    const QString point = QLocale().decimalPoint();
    return point.isEmpty() ? QLatin1Char('.') : point.front();
}

// A number written with either separator, as it may come from another program.
bool readNumber(const QString &text, double *value)
{
    static const QRegularExpression number(QStringLiteral("^\\s*([+-]?\\d*(?:[.,]\\d*)?)"));
    const QString found = number.match(text).captured(1);
    if (found.isEmpty() || found == QLatin1String("+") || found == QLatin1String("-"))
        return false;
    QString plain = found;
    plain.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    *value = plain.toDouble(&ok);
    return ok;
}

} // namespace

MaskedEdit::MaskedEdit(QWidget *parent) : QLineEdit(parent)
{
}

bool MaskedEdit::isPatternMask() const
{
    for (const QChar c : m_mask)
        if (c != kDigitPlace && c != kDecimalPlace)
            return true;
    return false;
}

int MaskedEdit::integerPlaces() const
{
    const int separator = m_mask.indexOf(kDecimalPlace);
    return int(m_mask.left(separator < 0 ? m_mask.size() : separator).count(kDigitPlace));
}

int MaskedEdit::decimalPlaces() const
{
    const int separator = m_mask.indexOf(kDecimalPlace);
    return separator < 0 ? 0 : int(m_mask.mid(separator + 1).count(kDigitPlace));
}

void MaskedEdit::setMaskAndFormat(const QString &mask, const QString &format, int widthTwips)
{
    m_mask = mask;
    m_format = format;
    m_extraPlaces = 0;
    applyMask(integerPlaces());
    const int twips = qRound(widthTwips / 15.0);
    const int margins = 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 8;
    const int fits =
        fontMetrics().horizontalAdvance(QString(displayText().size() + 1, QLatin1Char('0')));
    setFixedWidth(std::max(twips, fits + margins));
}

void MaskedEdit::setSigned(bool allowSign)
{
    m_signed = allowSign;
    applyMask(integerPlaces() + m_extraPlaces);
}

void MaskedEdit::applyMask(int places)
{
    if (m_mask.isEmpty()) {
        setInputMask(QString());
        return;
    }
    QString qtMask;
    if (isPatternMask()) {
        // Every place optional, so that a half-typed date or time can still be left and
        // checked.
        for (const QChar c : std::as_const(m_mask))
            qtMask += c == kDigitPlace ? QStringLiteral("0") : QStringLiteral("\\") + c;
    } else {
        qtMask = QString(m_signed ? QStringLiteral("#") : QStringLiteral("0")) +
                 QString(std::max(places, 1) - 1, QLatin1Char('0'));
        if (m_mask.contains(kDecimalPlace))
            qtMask +=
                QStringLiteral("\\") + decimalPoint() + QString(decimalPlaces(), QLatin1Char('0'));
    }
    setInputMask(qtMask + QLatin1Char(';') + kBlank);
}

void MaskedEdit::showNumber(double value)
{
    QString text = tables::formatValue(value, m_format, decimalPoint());
    if (!m_mask.isEmpty()) {
        const int separator = text.indexOf(decimalPoint());
        const int integerChars = separator < 0 ? int(text.size()) : separator;
        const int extra = std::max(0, integerChars - integerPlaces());
        if (extra != m_extraPlaces) {
            m_extraPlaces = extra;
            applyMask(integerPlaces() + extra);
        }
        // Short integer parts are padded, so digits keep their places under the mask.
        text.prepend(
            QString(std::max(0, integerPlaces() + m_extraPlaces - integerChars), QLatin1Char('0')));
    }
    setText(text);
}

void MaskedEdit::showTime(const QTime &time)
{
    setText(time.toString(m_format));
}

QString MaskedEdit::filledText() const
{
    if (!isPatternMask())
        return tables::formatValue(number(), m_format, decimalPoint());
    // Each field between separators read on its own, so "1_:30:00" is half past one.
    const QString shown = displayText();
    QString filled;
    QString field;
    int places = 0;
    auto endField = [&] {
        field.remove(kBlank);
        filled += field.rightJustified(places, QLatin1Char('0'));
        field.clear();
        places = 0;
    };
    for (int i = 0; i < m_mask.size(); ++i) {
        const QChar shownChar = i < shown.size() ? shown.at(i) : kBlank;
        if (m_mask.at(i) == kDigitPlace) {
            field += shownChar;
            ++places;
        } else {
            endField();
            filled += m_mask.at(i);
        }
    }
    endField();
    return filled;
}

double MaskedEdit::number() const
{
    if (m_mask.isEmpty()) {
        double value = 0;
        return readNumber(text(), &value) ? value : 0.0;
    }
    const QString shown = displayText();
    const int separator = shown.indexOf(decimalPoint());
    QString integer = separator < 0 ? shown : shown.left(separator);
    QString decimals = separator < 0 ? QString() : shown.mid(separator + 1);
    integer.remove(kBlank);
    const bool negative = integer.contains(QLatin1Char('-'));
    integer.remove(QLatin1Char('-')).remove(QLatin1Char('+'));
    decimals.replace(kBlank, QLatin1Char('0'));
    if (integer.isEmpty())
        integer = QStringLiteral("0");
    const double value =
        (integer + (decimals.isEmpty() ? QString() : QLatin1Char('.') + decimals)).toDouble();
    return negative ? -value : value;
}

bool MaskedEdit::hasNumber() const
{
    double value = 0;
    return !m_mask.isEmpty() || text().trimmed().isEmpty() || readNumber(text(), &value);
}

QTime MaskedEdit::time() const
{
    return QTime::fromString(filledText(), m_format);
}

QDateTime MaskedEdit::dateTime() const
{
    return QDateTime::fromString(filledText(), m_format);
}

void MaskedEdit::showDateTime(const QDateTime &when)
{
    setText(when.toString(m_format));
}

bool MaskedEdit::commit()
{
    if (!isModified())
        return true;
    bool keep = false;
    emit validating(&keep);
    if (keep) {
        keepFocus();
        return false;
    }
    setModified(false);
    return true;
}

void MaskedEdit::keepFocus()
{
    m_refocusing = true;
    // After the focus change in progress has ended.
    QTimer::singleShot(0, this, [this] {
        setFocus(Qt::OtherFocusReason);
        setSelection(0, int(displayText().size()));
        m_refocusing = false;
    });
}

void MaskedEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    // Typing replaces the value, wherever the click put the caret; a mask would otherwise
    // leave it past the last place or on a separator.
    QTimer::singleShot(0, this, [this] {
        if (hasFocus())
            setSelection(0, int(displayText().size()));
    });
}

void MaskedEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    // Another window or a menu coming up is no leaving of the box.
    if (m_refocusing || event->reason() == Qt::ActiveWindowFocusReason ||
        event->reason() == Qt::PopupFocusReason)
        return;
    commit();
}

void MaskedEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Paste)) {
        pasteValue(QApplication::clipboard()->text());
        return;
    }
    // A caret behind the last place has nowhere to put a digit: the digit starts a new value.
    const QString typed = event->text();
    if (!m_mask.isEmpty() && !hasSelectedText() && cursorPosition() >= displayText().size() &&
        typed.size() == 1 && (typed.front().isDigit() || typed == QLatin1String("-")))
        setSelection(0, int(displayText().size()));
    const bool separatorKey =
        event->text() == QLatin1String(".") || event->text() == QLatin1String(",");
    if (separatorKey && !m_mask.isEmpty() && !isPatternMask()) {
        // Either key types the locale's separator, as the keypad's key does elsewhere.
        const QChar point = decimalPoint();
        QKeyEvent typed(event->type(), point == QLatin1Char(',') ? Qt::Key_Comma : Qt::Key_Period,
                        event->modifiers(), QString(point));
        QLineEdit::keyPressEvent(&typed);
        event->setAccepted(typed.isAccepted());
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void MaskedEdit::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createStandardContextMenu();
    if (QAction *paste = menu->findChild<QAction *>(QStringLiteral("edit-paste"))) {
        disconnect(paste, &QAction::triggered, nullptr, nullptr);
        connect(paste, &QAction::triggered, this,
                [this] { pasteValue(QApplication::clipboard()->text()); });
    }
    menu->exec(event->globalPos());
    delete menu;
}

void MaskedEdit::pasteValue(const QString &text)
{
    if (isReadOnly())
        return;
    if (isPatternMask()) {
        const QString t = text.trimmed();
        const bool withDate = m_format.contains(QLatin1Char('y'));
        const QStringList formats =
            withDate ? QStringList{m_format, QStringLiteral("yyyy-MM-dd HH:mm:ss"),
                                   QStringLiteral("yyyy-MM-ddTHH:mm:ss")}
                     : QStringList{m_format, QStringLiteral("h:mm:ss"), QStringLiteral("hh:mm"),
                                   QStringLiteral("h:mm")};
        for (const QString &format : formats) {
            const QDateTime when = withDate
                                       ? QDateTime::fromString(t, format)
                                       : QDateTime(QDate(2000, 1, 1), QTime::fromString(t, format));
            if (when.isValid()) {
                if (withDate)
                    showDateTime(when);
                else
                    showTime(when.time());
                setModified(true);
                return;
            }
        }
    } else {
        double value = 0;
        const double largest = std::pow(10.0, integerPlaces() + m_extraPlaces);
        if (readNumber(text, &value) && std::fabs(value) < largest && (m_signed || value >= 0)) {
            showNumber(value);
            setModified(true);
            return;
        }
    }
    QApplication::beep();
}
