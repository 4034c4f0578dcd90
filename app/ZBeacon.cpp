// Entry of the program.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow w;
    w.setWindowTitle("Zindle Beacon Setup");
    w.show();
    return app.exec();
}
