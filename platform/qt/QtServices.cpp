#include "platform/qt/QtServices.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QWindow>

namespace varnel {

namespace {

QString toQString(const std::u16string& text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

std::u16string fromQString(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

QWindow* ownWindow(WindowHandle handle) {
    if (handle == 0) {
        return nullptr;
    }
    for (QWindow* w : QGuiApplication::topLevelWindows()) {
        if (w->handle() != nullptr && static_cast<WindowHandle>(w->winId()) == handle) {
            return w;
        }
    }
    return nullptr;
}

}  // namespace

void QtEventPump::pumpOnce() {
    QCoreApplication::processEvents();
}

void QtTickTimer::setEnabled(bool on) {
    if (on) {
        timer_.start();
    } else {
        timer_.stop();
    }
}

Status QtClipboard::clear() {
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
    return Status::success();
}

Result<bool> QtClipboard::hasText() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    return Result<bool>::success(data != nullptr && data->hasText());
}

Result<std::u16string> QtClipboard::getText() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (data == nullptr || !data->hasText()) {
        return Result<std::u16string>::failure("no text on the clipboard");
    }
    return Result<std::u16string>::success(fromQString(data->text()));
}

Status QtClipboard::setText(const std::u16string& text) {
    QGuiApplication::clipboard()->setText(toQString(text), QClipboard::Clipboard);
    return Status::success();
}

Status QtClipboard::offerForPaste(const std::u16string& text, WindowHandle, PasteKind) {
    IgnoreFailure(clear(), "the text set next replaces whatever is left");
    return setText(text);
}

Status QtClipboard::waitUntilPasted(std::chrono::milliseconds) {
    QCoreApplication::processEvents();
    return Status::success();
}

Status QtClipboard::waitForCopyFrom(WindowHandle, std::chrono::milliseconds) {
    QCoreApplication::processEvents();
    return Status::success();
}

Result<WindowHandle> QtWindowSystem::foregroundWindow() {
    QWindow* focus = QGuiApplication::focusWindow();
    return Result<WindowHandle>::success(focus != nullptr ? static_cast<WindowHandle>(focus->winId()) : 0);
}

Status QtWindowSystem::makeForeground(WindowHandle window) {
    QWindow* w = ownWindow(window);
    if (w == nullptr) {
        return Status::failure("not one of our windows");
    }
    w->requestActivate();
    return Status::success();
}

bool QtWindowSystem::windowExists(WindowHandle window) {
    return ownWindow(window) != nullptr;
}

bool QtWindowSystem::isOwnWindow(WindowHandle window) {
    return ownWindow(window) != nullptr;
}

Status QtWindowSystem::setZOrder(WindowHandle window, ZOrderMode mode) {
    QWindow* w = ownWindow(window);
    if (w == nullptr) {
        return Status::failure("not one of our windows");
    }
    // QWindow::setFlags keeps the native window (QWidget::setWindowFlags would re-create it).
    switch (mode) {
        case ZOrderMode::Topmost:
            w->setFlags(w->flags() | Qt::WindowStaysOnTopHint);
            w->raise();
            break;
        case ZOrderMode::NotTopmost:
            w->setFlags(w->flags() & ~Qt::WindowStaysOnTopHint);
            break;
        case ZOrderMode::Bottom:
            w->setFlags(w->flags() & ~Qt::WindowStaysOnTopHint);
            w->lower();
            break;
    }
    return Status::success();
}

Result<MonitorArea> QtWindowSystem::primaryMonitorArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return Result<MonitorArea>::failure("no screen");
    }
    const QRect area = screen->availableGeometry();
    return Result<MonitorArea>::success(MonitorArea{area.x(), area.y(), area.width(), area.height()});
}

Result<TwipsPerPixel> QtWindowSystem::twipsPerPixel() {
    // The pixels windows are placed in are Qt's logical pixels, at the screen's logical resolution.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen != nullptr ? screen->logicalDotsPerInchX() : 96.0;
    const auto twips = static_cast<float>(dpi > 0 ? 1440.0 / dpi : 15.0);
    return Result<TwipsPerPixel>::success({twips, twips});
}

}  // namespace varnel
