// The Debian packages as cpack builds them from this build: what each installs, what it
// needs, and maintainer scripts that a shell accepts.

#include "support/cli_run.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace
{

QString run(const QString &program, const QStringList &args, const QString &dir = QString())
{
    const CliRun r = runCli(args, {.workingDirectory = dir, .program = program});
    if (r.exitCode != 0) {
        ADD_FAILURE() << program.toStdString() << " " << args.join(' ').toStdString() << ": "
                      << r.err.toStdString();
        return {};
    }
    return r.out;
}

} // namespace

TEST(Packaging, debianPackagesSeparateTheSiteFromTheEmulators)
{
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    run(QStringLiteral("cpack"), {"-G", "DEB", "-B", out.path()},
        QStringLiteral(OSTRACOM_BINARY_DIR));

    struct Package {
        const char *name;
        std::vector<const char *> files, absent, depends, scripts;
    };
    const Package packages[] = {
        {"ostracom",
         {"./usr/bin/ostracom", "./usr/bin/ostracom-cli",
          "./usr/lib/systemd/system/ostracom-poll.service",
          "./usr/share/applications/ostracom.desktop",
          "./usr/share/icons/hicolor/scalable/apps/ostracom.svg"},
         {"tarvelon-sim", "telvara-sim"},
         {"libqt6widgets6", "libqt6charts6", "libqt6sql6-sqlite", "libcurl4", "adduser"},
         {"postinst", "prerm", "postrm"}},
        {"ostracom-emulators",
         {"./usr/bin/tarvelon-sim", "./usr/bin/telvara-sim"},
         {"ostracom-cli", "ostracom-poll"},
         {"libqt6core6", "libqt6network6"},
         {}},
    };
    const QStringList debs = QDir(out.path()).entryList({"*.deb"});
    ASSERT_EQ(debs.size(), std::size(packages)) << debs.join(' ').toStdString();

    for (const Package &package : packages) {
        SCOPED_TRACE(package.name);
        const QStringList named =
            debs.filter(QRegularExpression(QStringLiteral("^%1_").arg(package.name)));
        ASSERT_EQ(named.size(), 1);
        const QString deb = out.filePath(named.first());

        const QString files = run(QStringLiteral("dpkg-deb"), {"-c", deb});
        for (const char *path : package.files)
            EXPECT_TRUE(files.contains(QLatin1String(path))) << path;
        for (const char *name : package.absent)
            EXPECT_FALSE(files.contains(QLatin1String(name))) << name;

        const QString depends = run(QStringLiteral("dpkg-deb"), {"-f", deb, "Depends"});
        for (const char *dependency : package.depends)
            EXPECT_TRUE(depends.contains(QLatin1String(dependency))) << dependency;

        const QString control = out.filePath(QLatin1String(package.name) + "-control");
        run(QStringLiteral("dpkg-deb"), {"-e", deb, control});
        for (const char *script : package.scripts) {
            const QString path = control + QLatin1Char('/') + QLatin1String(script);
            EXPECT_TRUE(QFileInfo(path).isExecutable()) << script;
            run(QStringLiteral("sh"), {"-n", path});
        }
    }
}
