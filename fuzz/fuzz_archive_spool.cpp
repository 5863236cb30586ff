// The archive spool file as the program finds it in the data folder, and the rejects file's
// lines. Checked beyond "no crash": the record lines kept are whole lines of the file, each
// once; the end of the last good frame is a line end within the file; what was read, written
// anew, reads back the same and sound; a frame appended after the last good frame, as the
// writer appends it, reads back with the lines before it; a reject with any text in it
// makes one line whose fields read back as they were.

#include "fuzz_check.h"
#include "store/archive_spool.h"

#include <QSet>

namespace
{

using Contents = ArchiveSpool::Contents;

const QByteArray kFreshLine("2026-12-07 10:00:00\t7.25\t4711\t1\n");

bool isWholeLineOf(const QByteArray &text, const QByteArray &line)
{
    for (qsizetype at = text.indexOf(line); at >= 0; at = text.indexOf(line, at + 1))
        if (at == 0 || text[at - 1] == '\n')
            return true;
    return false;
}

void checkRejectLine(const QByteArray &input)
{
    ArchiveSpool::Reject reject;
    reject.tarvelonId = -input.size();
    reject.record = QString::fromLatin1(input.left(input.size() / 2));
    reject.reason = QString::fromUtf8(input.mid(input.size() / 2));
    const QString time = QStringLiteral("2026-12-07 10:00:00");
    const QByteArray line = ArchiveSpool::rejectLine(time, reject);
    FUZZ_CHECK(line.endsWith('\n') && line.count('\n') == 1 && !line.contains('\r'),
               "a reject is one line");
    const QStringList fields = ArchiveSpool::rejectFields(QString::fromUtf8(line.chopped(1)));
    FUZZ_CHECK(fields == QStringList({time, QString::number(reject.tarvelonId), reject.record,
                                      reject.reason}),
               "a reject's fields read back as they were");

    const QString any = QString::fromUtf8(input);
    FUZZ_CHECK(ArchiveSpool::rejectFields(any).size() == any.count(QLatin1Char('\t')) + 1,
               "a rejects line has a field more than it has tabs");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    checkRejectLine(text);

    const Contents read = ArchiveSpool::readContents(text);
    QSet<QByteArray> seen;
    for (const QByteArray &line : read.lines) {
        FUZZ_CHECK(line.endsWith('\n') && line.count('\n') == 1, "a record line is one line");
        FUZZ_CHECK(!seen.contains(line), "a record is kept once");
        seen.insert(line);
        FUZZ_CHECK(isWholeLineOf(text, line), "a record line is a whole line of the file");
    }
    if (!read.known) {
        FUZZ_CHECK(read.lines.empty() && !read.problem.isEmpty(),
                   "a file of unknown form yields nothing and says why");
        return 0;
    }
    if (read.form != Contents::Form::Journal)
        FUZZ_CHECK(read.goodEnd == 0, "a file of the older form has no frames");
    else
        FUZZ_CHECK(read.goodEnd > 0 && read.goodEnd <= text.size() &&
                       text[read.goodEnd - 1] == '\n',
                   "the last good frame ends at a line end within the file");

    // Written anew, as the spool is rewritten: the same lines, sound.
    const QByteArray again = ArchiveSpool::journalText(read.database, read.lines);
    const Contents reread = ArchiveSpool::readContents(again);
    FUZZ_CHECK(reread.known && reread.form == Contents::Form::Journal && reread.problem.isEmpty(),
               "a spool written anew is sound");
    FUZZ_CHECK(reread.database == read.database, "the database name is kept as it was");
    FUZZ_CHECK(reread.lines == read.lines, "a spool written anew holds what was read");
    FUZZ_CHECK(reread.goodEnd == again.size(), "a spool written anew is whole");

    if (read.form != Contents::Form::Journal)
        return 0;
    // Appended to, as the writer appends: after the last good frame, the rest cut off.
    const QByteArray kept = text.left(read.goodEnd);
    const QByteArray appended = kept + ArchiveSpool::frameText({kFreshLine});
    const Contents before = ArchiveSpool::readContents(kept);
    const Contents after = ArchiveSpool::readContents(appended);
    FUZZ_CHECK(
        before.problem.isEmpty() && after.problem.isEmpty(),
        "what lies before the last good frame's end is sound, and stays so when appended to");
    FUZZ_CHECK(before.lines.size() <= read.lines.size() &&
                   std::equal(before.lines.begin(), before.lines.end(), read.lines.begin()),
               "the sound frames are the first read");
    std::vector<QByteArray> expected = before.lines;
    if (std::find(expected.begin(), expected.end(), kFreshLine) == expected.end())
        expected.push_back(kFreshLine);
    FUZZ_CHECK(after.lines == expected && after.goodEnd == appended.size(),
               "an appended frame reads back after the others");
    return 0;
}
