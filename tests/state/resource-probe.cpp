// Prints where the resource bundle is looked for, then opens it; used by
// tst_configuration to run the search from copies and links of itself.
#include "state/AppResources.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (const QString &candidate : pendrel::AppResources::candidateLocations())
        std::printf("candidate %s\n", qPrintable(candidate));
    std::printf("found %s\n", qPrintable(pendrel::AppResources::bundle().absolutePath()));
    return 0;
}
