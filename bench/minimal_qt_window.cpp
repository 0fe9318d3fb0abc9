// The yardstick for the cold-start bench: the least a Qt Widgets program does
// to show one window. "--exit" makes the application object and ends;
// "--main-window" shows a main window holding a label instead of a bare label.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--exit") == 0) return 0;
    std::unique_ptr<QWidget> window;
    if (argc > 1 && std::strcmp(argv[1], "--main-window") == 0) {
        auto main = std::make_unique<QMainWindow>();
        main->setCentralWidget(new QLabel(QStringLiteral("Havenway")));
        window = std::move(main);
    } else {
        window = std::make_unique<QLabel>(QStringLiteral("Havenway"));
    }
    window->resize(400, 300);
    window->show();
    return application.exec();
}
