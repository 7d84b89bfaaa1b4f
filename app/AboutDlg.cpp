#include "app/AboutDlg.h"

#include "app/DialogUnits.h"
#include "app/Resources.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace pelo {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    LoadResources();
    setObjectName(QStringLiteral("100"));
    setWindowTitle(tr("ﾊﾞｰｼﾞｮﾝ情報 Pelo"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(MainDialogFont());
    const DialogBaseUnits du = BaseUnitsFor(font());
    setFixedSize(DialogSize(du, 219, 75));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("128"));
    const QRect iconRect = DialogRect(du, 11, 17, 20, 20);
    icon->setGeometry(iconRect);
    icon->setPixmap(QIcon(QStringLiteral(":/pelo/pelo.png")).pixmap(iconRect.size()));

    auto* version = new QLabel(QStringLiteral("Pelo Version 1.0"), this);
    version->setGeometry(DialogRect(du, 40, 10, 119, 8));

    auto* notice = new QLabel(tr("輪郭のギザギザをなめらかにする一括変換ツール\n"
                                 "ERI 画像デコーダー: このプログラムの独自実装\n"
                                 "(公開されている ERI 形式の仕様から作成)"),
                              this);
    notice->setGeometry(DialogRect(du, 40, 25, 172, 40));
    notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notice->setWordWrap(true);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setGeometry(DialogRect(du, 162, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(1); });
}

} // namespace pelo
