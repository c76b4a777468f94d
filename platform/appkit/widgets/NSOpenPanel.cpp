#include "NSOpenPanel.h"

#include <QFileDialog>
#include <QTimer>
#include <utility>

namespace {

struct Answer {
    NSModalResponse response;
    QString path;
};

std::optional<Answer>& nextAnswer()
{
    static std::optional<Answer> answer;
    return answer;
}

QUrl& askedDirectory()
{
    static QUrl asked;
    return asked;
}

}  // namespace

std::shared_ptr<NSOpenPanel> NSOpenPanel::openPanel()
{
    return std::shared_ptr<NSOpenPanel>(new NSOpenPanel);
}

void NSOpenPanel::setNextAnswerForTesting(NSModalResponse response, const QString& path)
{
    nextAnswer() = Answer{response, path};
}

bool NSOpenPanel::hasPendingAnswerForTesting()
{
    return nextAnswer().has_value();
}

QUrl NSOpenPanel::takeAskedDirectoryForTesting()
{
    return std::exchange(askedDirectory(), QUrl());
}

void NSOpenPanel::finish(NSModalResponse response, QList<QUrl> urls,
                         const std::function<void(NSModalResponse)>& completion)
{
    m_URLs = response == NSModalResponseOK ? std::move(urls) : QList<QUrl>();
    if (completion)
        completion(response);
}

void NSOpenPanel::beginSheetModalForWindow(QWidget* window, std::function<void(NSModalResponse)> completion)
{
    std::shared_ptr<NSOpenPanel> self = shared_from_this();
    if (std::optional<Answer> answer = std::exchange(nextAnswer(), std::nullopt)) {
        askedDirectory() = m_directoryURL;
        QList<QUrl> urls;
        if (answer->response == NSModalResponseOK)
            urls << QUrl::fromLocalFile(answer->path);
        // Later, from the event loop, as a person's answer would come.
        QTimer::singleShot(0, [self, response = answer->response, urls, completion] {
            self->finish(response, urls, completion);
        });
        return;
    }

    auto* dialog = new QFileDialog(window ? window->window() : nullptr);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (m_canChooseDirectories && !m_canChooseFiles) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    dialog->setOption(QFileDialog::ReadOnly, !m_canCreateDirectories);
    if (m_directoryURL.isValid())
        dialog->setDirectoryUrl(m_directoryURL);
    QObject::connect(dialog, &QDialog::finished, dialog, [self, dialog, completion](int result) {
        const bool accepted = result == QDialog::Accepted && !dialog->selectedUrls().isEmpty();
        self->finish(accepted ? NSModalResponseOK : NSModalResponseCancel, dialog->selectedUrls(), completion);
    });
    dialog->open();
}
