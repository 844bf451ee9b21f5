// Runs a fuzz target over files and folders of stored inputs, one by one,
// and names each so that a failure says which input broke it.

#include "FuzzTarget.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

int replay(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "replay: cannot read %s\n", qPrintable(path));
        return 1;
    }
    const QByteArray input = file.readAll();
    std::fprintf(stderr, "replay: %s\n", qPrintable(path));
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()), static_cast<size_t>(input.size()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    int failures = 0;
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const QString path = QFile::decodeName(argv[i]);
        if (QFileInfo(path).isDir()) {
            QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                failures += replay(it.next());
                ++count;
            }
        } else {
            failures += replay(path);
            ++count;
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 1;
    }
    std::fprintf(stderr, "replay: %d inputs\n", count);
    return failures == 0 ? 0 : 1;
}
