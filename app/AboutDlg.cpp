#include "app/AboutDlg.h"

#include "app/DialogUnits.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace pelo {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("100"));
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報 Pelo"));
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

    auto* notice =
        new QLabel(QStringLiteral("透過画像の輪郭のギザギザをなめらかにする一括変換ツール\n"
                                  "ERI 画像の読み込み: このプログラムのために書かれた"
                                  "デコーダー\n(ERI 形式の公開された仕様による)"),
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
