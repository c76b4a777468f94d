#include "KLCompactTile.h"

#include <QBoxLayout>
#include <QLabel>

#include "KLTempView.h"

namespace KLCompactTile {

void apply(KLTempView* tile)
{
    if (!tile)
        return;
    tile->setFixedHeight(kHeight);
    QFont value = tile->cpuTempValueField()->font();
    value.setPixelSize(26);
    tile->cpuTempValueField()->setFont(value);
    if (auto* content = tile->findChild<QBoxLayout*>(QStringLiteral("contentLayout"))) {
        const QMargins margins = content->contentsMargins();
        content->setContentsMargins(margins.left(), 5, margins.right(), 5);
    }
}

}  // namespace KLCompactTile
