#pragma once
// The folder and file chooser: a QFileDialog opened window-modal over a
// window, answering through a completion callback on the main thread. The
// panel keeps itself alive until the callback has run.
//
// Tests answer the next panel through setNextAnswerForTesting: nothing is
// shown, and the callback runs from the event loop as it would after a
// person chose.
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

enum NSModalResponse : int {
    NSModalResponseCancel = 0,
    NSModalResponseOK = 1,
};

class NSOpenPanel : public std::enable_shared_from_this<NSOpenPanel> {
public:
    static std::shared_ptr<NSOpenPanel> openPanel();

    bool canChooseFiles() const { return m_canChooseFiles; }
    void setCanChooseFiles(bool can) { m_canChooseFiles = can; }
    bool canChooseDirectories() const { return m_canChooseDirectories; }
    void setCanChooseDirectories(bool can) { m_canChooseDirectories = can; }
    bool canCreateDirectories() const { return m_canCreateDirectories; }
    void setCanCreateDirectories(bool can) { m_canCreateDirectories = can; }
    // Where the panel opens.
    QUrl directoryURL() const { return m_directoryURL; }
    void setDirectoryURL(const QUrl& url) { m_directoryURL = url; }

    // What was chosen; empty until the panel ended with OK.
    QList<QUrl> URLs() const { return m_URLs; }
    QUrl URL() const { return m_URLs.isEmpty() ? QUrl() : m_URLs.first(); }

    // Shows the panel over the window (window-modal; a null window gives an
    // application-modal one) and returns at once.
    void beginSheetModalForWindow(QWidget* window, std::function<void(NSModalResponse)> completion);

    // The next panel ends with this response and, for OK, this local path.
    static void setNextAnswerForTesting(NSModalResponse response, const QString& path = {});
    static bool hasPendingAnswerForTesting();
    // Where the last panel answered through the hook would have opened.
    static QUrl takeAskedDirectoryForTesting();

private:
    NSOpenPanel() = default;
    void finish(NSModalResponse response, QList<QUrl> urls, const std::function<void(NSModalResponse)>& completion);

    bool m_canChooseFiles = true;
    bool m_canChooseDirectories = false;
    bool m_canCreateDirectories = true;
    QUrl m_directoryURL;
    QList<QUrl> m_URLs;
};
