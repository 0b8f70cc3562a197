#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("Trelis");
    window.resize(467, 24);
    window.show();
    app.exec();
    return 0;
}
