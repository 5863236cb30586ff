#pragma once

// The program's database: schema, upgrades, seed rows and one typed function per
// statement the program issues. Every value is a bound parameter.

#include "store/alarm_quality.h"
#include "store/mail_settings.h"
#include "store/store_error.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

// The PC-side part of one regulation (table HYDOREGELUNG).
struct RegulationRow {
    double lowerWarning = 0; // sw_UntereWarnung
    double upperWarning = 0; // sw_obereWarnung
    QString beschreibung;
};

// One measurement as the controller reports it. DATUM is the controller's own clock reading
// as DATUM text, kept as it stands: a local QDateTime cannot hold the hour skipped when
// summer time starts, but the controller's clock does not skip it.
struct ArchiveRecord {
    QString datum;
    double wert = 0;
    int tarvelonId = 0;
    int asid = 0;
};

// One archived value of one sensor.
struct ArchiveValue {
    QDateTime datum;
    double wert = 0;
};

// Archive times as seconds since 1970-01-01 00:00:00 of the wall clock: the DATUM text read
// without a time zone, so that arithmetic on them agrees with the text order.
using WallSecond = qint64;

// One archived value of one sensor, by wall-clock second.
struct ArchiveSample {
    WallSecond second = 0;
    double wert = 0;
};

// Columns of equal share of [origin, origin + span) seconds. A value belongs to the column of
// the start of its slot of slotSeconds, so that a summary slot is never split between two
// columns; slotSeconds 1 places every value by its own second.
struct ColumnGrid {
    WallSecond origin = 0;
    qint64 span = 1;
    int columns = 1;
    int slotSeconds = 1;

    int columnOf(WallSecond second) const;
};

// What the archive holds of one sensor within one column: extremes, count and sum, and the
// first and last value. Values of the same second are ordered by value, so first and last
// do not depend on the order of writing.
struct ArchiveColumn {
    int column = 0;
    qint64 count = 0;
    double sum = 0;
    double minimum = 0;
    double maximum = 0;
    WallSecond firstSecond = 0;
    double first = 0;
    WallSecond lastSecond = 0;
    double last = 0;

    void add(const ArchiveSample &sample);
    void merge(const ArchiveColumn &other);
};

struct LogbookEntry {
    QDateTime datum;
    QString bemerkung;
};

// The selection of archiveValues(): one sensor, an optional range and an order.
struct ArchiveQuery {
    enum class Bound { Inclusive, Exclusive };
    enum class Order { Stored, Ascending, Descending }; // Stored: no ORDER BY

    int tarvelonId = 0;
    int asid = 0;
    std::optional<QDateTime> from;
    Bound fromBound = Bound::Inclusive;
    std::optional<QDateTime> to;
    Bound toBound = Bound::Inclusive;
    Order order = Order::Ascending;
    std::optional<int> limit;
};

class Database
{
public:
    // Schema versions: 1 the six tables, 2 their indexes, 3 the archive index that covers
    // the value and the summary tables of the archive, 4 the regulations' alarm quality and
    // the no-data alarm setting, 5 the outbox's longest wait, 6 the flag that lets a batch
    // of this program's be summarised in one pass.
    static constexpr int kSchemaVersion = 6;
    // Slot lengths of the archive's summary tables, finest first. Every sensor value is
    // summarised in each, in the transaction that archives it.
    static constexpr int kSummarySlots[] = {60, 600, 3600};
    static constexpr int kDefaultBusyTimeoutMs = 5000;
    // Logbook entries are archive rows of this controller and sensor, drawn at this value.
    static constexpr int kLogbookTarvelonId = -1;
    static constexpr int kLogbookAsid = 0;
    static constexpr double kLogbookWert = 100;

    enum class Mode {
        Prepare, // check the file, create or upgrade the schema, add missing seed rows
        Attach,  // use an existing, prepared database as it is (a second handle)
    };

    // Opens the database at `location`: a SQLite file path or a postgresql:// address.
    // Throws StoreError naming the path and the cause; a file that is refused is never
    // written to.
    explicit Database(const QString &location, Mode mode = Mode::Prepare,
                      int busyTimeoutMs = kDefaultBusyTimeoutMs);
    // The same, with the program's data folder: a PostgreSQL database keeps the mail
    // password there (see mailPasswordFile), and Prepare moves a password still in its
    // settings row there, when the folder exists.
    Database(const QString &location, const QString &dataDir, Mode mode = Mode::Prepare,
             int busyTimeoutMs = kDefaultBusyTimeoutMs);
    // Whether the schema is older than this program's, so that a handle opened with Attach
    // would miss tables or columns, the archive's summaries lack a table or a trigger, or
    // seed rows are missing; such a database is to be opened with Prepare first.
    bool needsUpgrade() const;
    // Closes the connections of every thread. Other threads must have stopped using it.
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // The part of an address that makes it unusable, as the detail of a DatabaseAddress
    // error (a number): the address itself is never repeated, it may hold a password.
    enum class AddressPart { Scheme, Space, Password, User, Host, Port, Name, Option, OptionValue };
    // Why `location` cannot be used when it is an address (scheme://...): the part that is
    // wrong, never its text. No error for a usable address and for a file name.
    static Error addressProblem(const QString &location);
    // What location() gives for a database opened at `location`: the absolute path of a
    // file, or an address as messages show it and as it is opened again; for an address that
    // cannot be used, the DatabaseAddress error instead.
    static std::variant<QString, Error> locationText(const QString &location);
    QString location() const;
    // The connection of the calling thread, opened on first use in that thread.
    QSqlDatabase connection() const;

    // DATUM text: local time to the second, "YYYY-MM-DD HH:MM:SS", so that text order is
    // time order. An invalid time gives an empty text.
    static QString datumText(const QDateTime &time);
    // A wall-clock reading as DATUM text, whatever the local time zone makes of it.
    static QString datumText(const QDate &date, const QTime &time);
    static QDateTime datumFromText(const QString &text);
    // The wall-clock second of a DATUM text; nullopt for a text that is no DATUM.
    static std::optional<WallSecond> wallSecond(QStringView datum);
    // The wall-clock second of a local time (its date and time of day as they read).
    static WallSecond wallSecond(const QDateTime &time);
    static QString datumText(WallSecond second);
    static QDateTime dateTimeOf(WallSecond second);
    // True for a text of the DATUM form that names a real date and time of day.
    static bool isDatumText(const QString &text);

    // ---- languages
    // (German text, translation) of every row of HYDOLANG, in table order. `language`
    // must be an existing column (see languageColumn); a NULL translation is a null QString.
    QList<QPair<QString, QString>> translations(const QString &language) const;
    // Adds the row unless a row with this exact German text exists; true when added.
    bool addTranslation(const QString &language, const QString &german, const QString &text);
    // The LANGTYPE rows, ascending.
    QStringList languages() const;
    // The column of HYDOLANG that holds `language` as the table spells it, when the name
    // is a plain identifier and such a column exists; otherwise nullopt.
    std::optional<QString> languageColumn(const QString &language) const;
    static bool isPlainIdentifier(const QString &name);

    // ---- settings row (OSTRACOMID = -1)
    // On PostgreSQL every user of the database could read the row, so the password is kept
    // in mailPasswordFile() on this machine and the row's column stays empty; another
    // machine sharing the database has its own file, or none and no password. Saving there
    // without a data folder throws StoreError, unless the password is empty.
    std::optional<MailSettings> mailSettings() const;
    void saveMailSettings(const MailSettings &settings);
    // Where this machine keeps the mail password of a PostgreSQL database; empty for SQLite
    // (a private file already, which keeps it in its row) and without a data folder.
    QString mailPasswordFile() const;
    std::optional<QString> languageSetting() const;
    void saveLanguageSetting(const QString &language);

    // ---- regulations
    std::optional<RegulationRow> regulationRow(int tarvelonId, int sensor, int regulation) const;
    struct KeyedRegulationRow {
        int sensor = 0;
        int regulation = 0;
        RegulationRow row;
    };
    // Every regulation row of one controller in one query (the first row of each key, as
    // regulationRow reads it), for the refresh at each cycle.
    std::vector<KeyedRegulationRow> regulationRows(int tarvelonId) const;
    void saveRegulationRow(int tarvelonId, int sensor, int regulation, double lowerWarning,
                           double upperWarning, const QString &beschreibung);
    void saveRegulationBeschreibung(int tarvelonId, int sensor, int regulation,
                                    const QString &beschreibung);
    void saveRegulationLowerWarning(int tarvelonId, int sensor, int regulation, double value);
    void saveRegulationUpperWarning(int tarvelonId, int sensor, int regulation, double value);

    // ---- alarm quality (table HYDOALARMQUALITAET); a regulation without a row has the
    // plain behaviour
    std::optional<AlarmQuality> alarmQuality(int tarvelonId, int sensor, int regulation) const;
    struct AlarmQualityRow {
        int sensor = 0;
        int regulation = 0;
        AlarmQuality quality;
    };
    // The rows of one controller, by sensor and regulation.
    std::vector<AlarmQualityRow> alarmQualities(int tarvelonId) const;
    void saveAlarmQuality(int tarvelonId, int sensor, int regulation, const AlarmQuality &quality);
    // Seconds without a download after which a controller is reported; 0: never.
    int staleAlarmSeconds() const;
    void saveStaleAlarmSeconds(int seconds);
    // How long an alarm mail may wait for its delivery before it is given up; 0: the
    // program's default.
    int outboxMaxAgeSeconds() const;
    void saveOutboxMaxAgeSeconds(int seconds);

    // ---- controllers
    std::optional<QString> calibration(int tarvelonId) const;
    void saveCalibration(int tarvelonId, const QString &kalibString);
    // True when any table holds rows of this identifier, so a new controller must not get it.
    bool controllerIdInUse(int tarvelonId) const;

    // ---- archive
    std::optional<ArchiveValue> newestArchived(int tarvelonId, int asid) const;
    // Writes all records in one transaction, or none: throws StoreError and leaves the
    // archive unchanged when any record cannot be written. With SkipExisting::Yes a record
    // whose controller, sensor, time and value are archived already is left out, so a
    // download that is delivered twice does not double its rows.
    // Returns the number of rows added.
    enum class SkipExisting { No, Yes };
    int appendArchive(const std::vector<ArchiveRecord> &records,
                      SkipExisting skip = SkipExisting::No);
    std::vector<ArchiveValue> archiveValues(const ArchiveQuery &query) const;
    // Values of one sensor with from <= second < to, by time and then value. Rows without a
    // value are left out.
    std::vector<ArchiveSample> archiveSamples(int tarvelonId, int asid, WallSecond from,
                                              WallSecond to) const;
    // The value at or before `second` that comes last (Before), or the one at or after it
    // that comes first (After), in the same order.
    enum class Neighbour { Before, After };
    std::optional<ArchiveSample> archiveNeighbour(int tarvelonId, int asid, WallSecond second,
                                                  Neighbour which) const;
    // The columns of `grid` that hold values of one sensor with from <= second < to, in
    // column order. grid.slotSeconds must be 1 or one of kSummarySlots; whole slots are read
    // from that summary table, the rest from finer ones and from the archive itself.
    std::vector<ArchiveColumn> archiveColumns(int tarvelonId, int asid, WallSecond from,
                                              WallSecond to, const ColumnGrid &grid) const;
    // Computes every summary table anew from the archive.
    void rebuildArchiveSummaries();
    // Told how far a long upgrade has come (e.g. the archive's summaries being filled,
    // sensor by sensor), so the program can show it. Set before a database is opened.
    using UpgradeProgress = std::function<void(qint64 done, qint64 total)>;
    static void setUpgradeProgress(UpgradeProgress progress);

    // One slot of a sensor in which a summary table and a recomputation from the archive
    // disagree; a side without a row has count 0.
    struct SummaryDifference {
        int slotSeconds = 0;
        int tarvelonId = 0;
        int asid = 0;
        WallSecond slot = 0;
        ArchiveColumn stored;
        ArchiveColumn archive;
    };
    struct SummaryLevelCheck {
        int slotSeconds = 0;
        qint64 rows = 0; // rows the summary table holds
        qint64 differences = 0;
    };
    // Compares every summary table with the archive, one sensor and level per statement, so
    // that a large archive is never held in memory. `difference` is told every slot that
    // disagrees, `progress` the steps done of all (levels times sensors).
    std::vector<SummaryLevelCheck>
    checkArchiveSummaries(const std::function<void(const SummaryDifference &)> &difference,
                          const UpgradeProgress &progress = {}) const;
    // Computes the summary tables of these slot lengths anew in one transaction, each from
    // the archive or the next finer table, which must agree with the archive.
    void rebuildArchiveSummaries(const std::vector<int> &slotSeconds);
    // The summary tables and triggers that were missing when this handle prepared the
    // database; they were restored and the summaries computed anew.
    QStringList restoredSummaryObjects() const;
    // Whole archive rows of one controller (and one sensor, when asid is given) with
    // from <= DATUM <= to where given, oldest first, for export.
    struct ArchiveRow {
        QString datum; // DATUM text as stored
        int tarvelonId = 0;
        int asid = 0;
        QVariant wert; // null for a row without value
        QString bemerkung;
    };
    std::vector<ArchiveRow> archiveRows(int tarvelonId, std::optional<int> asid,
                                        const std::optional<QDateTime> &from,
                                        const std::optional<QDateTime> &to) const;

    // ---- logbook (one entry per second)
    std::optional<QString> logbookText(const QDateTime &time) const;
    // Adds an entry; false (and nothing written) when that second already holds one.
    bool createLogbookEntry(const QDateTime &time, const QString &text);
    // Moves the entry at oldTime to newTime with the new text; false (and nothing changed)
    // when newTime is another second that already holds an entry. Without an entry at
    // oldTime a new one is created at newTime.
    bool moveLogbookEntry(const QDateTime &oldTime, const QDateTime &newTime, const QString &text);
    // Removes the entry at that second; nothing happens when there is none.
    void deleteLogbookEntry(const QDateTime &time);
    // Entries with from <= DATUM <= to, oldest first.
    std::vector<LogbookEntry> logbookEntries(const QDateTime &from, const QDateTime &to) const;

    struct Shared;

private:
    void prepareSchema();
    // Writes a password still in the settings row to mailPasswordFile(), then empties the
    // column: a crash in between leaves the password in both places, never in neither.
    void moveMailPasswordToFile();
    // Changes the first row of `table` whose key columns equal `keyValues`, or adds a row
    // holding keys and values when none matches.
    void insertOrUpdate(const QString &table, const QStringList &keyColumns,
                        const QVariantList &keyValues, const QStringList &columns,
                        const QVariantList &values, const char *what);
    // Deletes the first row of `table` whose key columns equal `keyValues`.
    void deleteFirst(const QString &table, const QStringList &keyColumns,
                     const QVariantList &keyValues, const char *what);

    std::shared_ptr<Shared> m_shared;
};
