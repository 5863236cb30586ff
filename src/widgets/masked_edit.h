#pragma once

#include <QDateTime>
#include <QLineEdit>
#include <QString>
#include <QTime>

// An entry box for a number, a time of day or a date laid out by a mask in the controller's
// notation: "#" is a digit place, "," in a number the decimal separator (shown and typed as
// the locale's, whichever of "." and "," the user presses); any other character is a
// separator of a date or time ("##:##:##", "##.##.#### ##:##:##"). Places not filled show
// "_".
//
// The box is checked when the focus is about to leave it after an edit: `validating` is
// emitted, and a handler that refuses the text keeps the focus in the box with the text
// selected. Leaving a box that was not edited checks nothing, so a value the box cannot
// show exactly is never rounded by merely passing through it.
class MaskedEdit : public QLineEdit
{
    Q_OBJECT
public:
    static constexpr QChar kBlank = QLatin1Char('_');

    explicit MaskedEdit(QWidget *parent = nullptr);

    // `mask` in the controller's notation ("##,##", "###", "##:##:##"); `format` a number
    // pattern ("00.00", "000") or a date and time format ("hh:mm:ss", "dd.MM.yyyy HH:mm:ss");
    // `widthTwips` the least width (15 twips to a pixel), widened until the mask fits.
    void setMaskAndFormat(const QString &mask, const QString &format, int widthTwips);
    // Lets the first place take a minus sign (for fields that hold negative values).
    void setSigned(bool allowSign);
    QString format() const { return m_format; }

    // Shows a value in the box's format. A number with more integer digits than the mask
    // has places gets more places, so that it is shown whole and never cut.
    void showNumber(double value);
    void showTime(const QTime &time);
    void showDateTime(const QDateTime &when);

    // The text as a person meant it: blanks among the integer digits are dropped (so "7_,2_"
    // reads as 7.2, not 70.2), blanks among the decimals read as 0; the number in the box's
    // format with the locale's separator. In a date or time each field is read alike.
    QString filledText() const;
    // The filled text as a number; 0 when there are no digits.
    double number() const;
    // False when a box without a mask holds text that is no number.
    bool hasNumber() const;
    // The filled text as a time of day or a date and time; invalid when it is none (25:99:00).
    QTime time() const;
    QDateTime dateTime() const;

    // Checks an edited box as leaving it would; false when a handler kept the focus.
    bool commit();

signals:
    // The box was edited and the focus is leaving it: the handler stores the value, or
    // sets *keepFocus to refuse it.
    void validating(bool *keepFocus);

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    bool isPatternMask() const;
    int integerPlaces() const;
    int decimalPlaces() const;
    // Builds the line edit's own mask from ours, with `integerPlaces` digit places before
    // the separator (or as many as the mask has, when less).
    void applyMask(int integerPlaces);
    // Puts a clipboard text into the box when it reads as a value of this box.
    void pasteValue(const QString &text);
    void keepFocus();

    QString m_mask;
    QString m_format;
    bool m_signed = false;
    int m_extraPlaces = 0; // integer places added for a value longer than the mask
    bool m_refocusing = false;
};
