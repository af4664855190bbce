#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QString>

#include <cstring>
#include <functional>
#include <map>
#include <string>

// Checks the assertion texts of preconditions. A failing assertion aborts the process, so each
// probe runs in a child: the test binary started again with `--assertion-probe <name>`.
//
//   int main(int argc, char **argv) {
//       if (int rc = AssertionProbe::runIfAsked(argc, argv, probes())) return rc;
//       ... the normal QtTest main ...
//   }
namespace AssertionProbe {

using Probes = std::map<std::string, std::function<void()>>;

inline int runIfAsked(int argc, char **argv, const Probes &probes)
{
    if (argc != 3 || std::strcmp(argv[1], "--assertion-probe") != 0)
        return 0;
    auto probe = probes.find(argv[2]);
    if (probe == probes.end())
        return 3;
    probe->second();
    return 4; // reached only when no assertion fired
}

struct Outcome
{
    bool crashed = false;
    QString standardError;
};

inline Outcome run(const QString &probe)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--assertion-probe", probe});
    child.waitForFinished(30000);
    return {child.exitStatus() == QProcess::CrashExit,
            QString::fromLocal8Bit(child.readAllStandardError())};
}

} // namespace AssertionProbe
