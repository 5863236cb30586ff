#pragma once

#include <QDateTime>
#include <QDialog>

class Database;
class MaskedEdit;
class QPlainTextEdit;
class QPushButton;

// One logbook entry: its time and its remark. A new entry is stored when the window opens and
// removed again unless OK confirms it (or the user declines to discard it); an existing
// entry changes only on OK (text, and its time when moved) or Delete.
class HydoLogbuch : public QDialog
{
    Q_OBJECT
public:
    static constexpr const char *kDisplayFormat = "dd.MM.yyyy HH:mm:ss";

    explicit HydoLogbuch(Database &db, QWidget *parent = nullptr);

    // Prepares the window for the entry at `time` (to the second). With `isNew` the entry is
    // created at once; false when that second already holds an entry or the database
    // refused: the reason has been shown and the window is not to be opened.
    bool init(const QDateTime &time, bool isNew);

    void reject() override;

private:
    // Checks a changed time as leaving the field does; false keeps the focus there.
    bool checkTime();
    void ok();
    void deleteEntry();
    // Shows a database failure; the operation ends.
    void showStoreError(const QString &message);
    void warn(const QString &text);

    Database &m_db;
    QDateTime m_time; // the stored entry's time, its key
    bool m_new = false;

    MaskedEdit *mask_zeitpunkt = nullptr;
    QPlainTextEdit *text_bemerkung = nullptr;
    QPushButton *cmd_ok = nullptr;
    QPushButton *cmd_delete = nullptr;
};
