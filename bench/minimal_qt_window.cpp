// The yardstick for the cold-start bench: the least a Qt Widgets program does
// to show one window. "--exit" makes the application object and ends.
#include <QApplication>
#include <QLabel>
#include <cstring>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--exit") == 0) return 0;
    QLabel window(QStringLiteral("Havenway"));
    window.resize(400, 300);
    window.show();
    return application.exec();
}
