// Starts and stops the PostgreSQL server that the tests of one ctest run share:
//   pg_test_server start|stop INFO-FILE

#include "support/pg_server.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 3 ||
        (args[1] != QLatin1String("start") && args[1] != QLatin1String("stop"))) {
        err << "usage: pg_test_server start|stop INFO-FILE\n";
        return 2;
    }
    QString error;
    const bool ok = args[1] == QLatin1String("start") ? PgServer::start(args[2], &error)
                                                      : PgServer::stop(args[2], &error);
    if (!ok) {
        err << "PostgreSQL test server: " << error << "\n";
        return 1;
    }
    return 0;
}
