#pragma once

// The hand-over journal (--journal FILE), for tests that check that the PC loses no record.
// One line per record, appended, written and fsync'd before the answer concerned goes out,
// so a reader sees at least everything the PC could have seen:
//
//   handed 010000F545F3C000476EC800   the record went out in a "DO" answer; once per answer,
//                                     so a record sent again is listed again
//   forgot 010000F545F3C000476EC800   a "DL" dropped it from the controller's memory
//
// The 24 characters are the record exactly as on the wire (garbled ones too). "handed" says
// the record left in an answer, not that the answer arrived whole (--drop-mid-answer,
// --bad-checksum). Records a full memory overwrites are not listed.

#include <QString>
#include <QStringList>

namespace sim
{

class Journal
{
public:
    Journal() = default;
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // Opens FILE for appending, creating it; a journal kept across restarts continues.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_fd >= 0; }
    // Appends "WORD RECORD" lines and syncs them to disk. True without a journal.
    bool append(const char *word, const QStringList &records, QString *error);

private:
    int m_fd = -1;
    QString m_path;
};

} // namespace sim
