// The peer of the hub's start-up bench: the least program that shows a page in the same
// web engine (a window with a web view, a page set as text, ended once it has loaded).
#include <QApplication>
#include <QWebEngineView>

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QWebEngineView view;
    QObject::connect(&view, &QWebEngineView::loadFinished, &view, [&view](bool) {
        view.page()->runJavaScript("document.readyState",
                                   [](const QVariant&) { QCoreApplication::quit(); });
    });
    view.resize(560, 640);
    view.setHtml(
        "<!DOCTYPE html><html><body><p>Link your account.</p>"
        "<button>Authorize this app</button></body></html>");
    view.show();
    return app.exec();
}
