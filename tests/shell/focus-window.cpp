// A window of another program for the tests on real compositors: it takes
// the keyboard focus like any application, and prints each line typed into
// it, so a test can tell that its key presses reach this window.
#include <QApplication>
#include <QLineEdit>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("org.example.FocusWindow"));
    QLineEdit edit;
    edit.setWindowTitle(QStringLiteral("Another program"));
    edit.resize(400, 60);
    QObject::connect(&edit, &QLineEdit::returnPressed, [&edit] {
        std::printf("%s\n", qPrintable(edit.text()));
        std::fflush(stdout);
        edit.clear();
    });
    edit.show();
    return app.exec();
}
