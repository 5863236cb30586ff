// The Debian package as cpack builds it from this build: what it installs, what it needs,
// and maintainer scripts that a shell accepts.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{

QString run(const QString &program, const QStringList &args, const QString &dir = QString())
{
    QProcess p;
    if (!dir.isEmpty())
        p.setWorkingDirectory(dir);
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " " << args.join(' ').toStdString() << ": "
                      << p.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

TEST(Packaging, debianPackageInstallsTheProgramsTheirDesktopEntryAndTheService)
{
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    run(QStringLiteral("cpack"), {"-G", "DEB", "-B", out.path()},
        QStringLiteral(OSTRACOM_BINARY_DIR));
    const QStringList debs = QDir(out.path()).entryList({"*.deb"});
    ASSERT_EQ(debs.size(), 1);
    const QString deb = out.filePath(debs.first());

    const QString files = run(QStringLiteral("dpkg-deb"), {"-c", deb});
    for (const char *path :
         {"./usr/bin/ostracom", "./usr/bin/ostracom-cli", "./usr/bin/tarvelon-sim",
          "./usr/bin/telvara-sim", "./usr/lib/systemd/system/ostracom-poll.service",
          "./usr/share/applications/ostracom.desktop",
          "./usr/share/icons/hicolor/scalable/apps/ostracom.svg"})
        EXPECT_TRUE(files.contains(QLatin1String(path))) << path;

    const QString depends = run(QStringLiteral("dpkg-deb"), {"-f", deb, "Depends"});
    for (const char *package : {"libqt6widgets6", "libqt6charts6", "libqt6sql6-sqlite", "libcurl4"})
        EXPECT_TRUE(depends.contains(QLatin1String(package))) << package;

    // The service runs as its own user, whom the package creates.
    const QString control = out.filePath(QStringLiteral("control"));
    run(QStringLiteral("dpkg-deb"), {"-e", deb, control});
    for (const char *script : {"postinst", "prerm"}) {
        const QString path = control + QLatin1Char('/') + QLatin1String(script);
        run(QStringLiteral("sh"), {"-n", path});
        EXPECT_TRUE(QFileInfo(path).isExecutable()) << script;
    }
    QFile postinst(control + QStringLiteral("/postinst"));
    ASSERT_TRUE(postinst.open(QIODevice::ReadOnly));
    EXPECT_TRUE(postinst.readAll().contains("adduser --system"));
}
