#include "app/DataExchange.h"

#include "app/MessageBoxes.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace pelo {

namespace {

const char* SkipBlanks(const char* p) {
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

} // namespace

QString FormatDialogDouble(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", 15, value);
    return QString::fromLocal8Bit(text);
}

bool ParseDialogDouble(const QString& text, double& value) {
    const QByteArray bytes = text.toLocal8Bit();
    const char* start = SkipBlanks(bytes.constData());
    char* end = nullptr;
    const double parsed = std::strtod(start, &end);
    if (end == start) return false;
    if (*SkipBlanks(end) != '\0') return false;
    value = parsed;
    return true;
}

bool ParseDialogUnsigned(const QString& text, std::uint32_t& value) {
    const QByteArray bytes = text.toLatin1();
    const char* p = SkipBlanks(bytes.constData());
    if (*p == '+') ++p;
    if (*p < '0' || *p > '9') return false;
    std::uint64_t n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        n = n * 10 + static_cast<std::uint64_t>(*p - '0');
        if (n > 0xFFFFFFFFu) return false;
    }
    if (*SkipBlanks(p) != '\0') return false;
    value = static_cast<std::uint32_t>(n);
    return true;
}

void DataExchange::Fail(QLineEdit* edit, const QString& message) {
    failed_ = true;
    ShowMessageBox(dialog_, message, QMessageBox::Warning);
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

void DataExchange::Text(QLineEdit* edit, std::string& value) {
    if (failed_) return;
    if (save_)
        value = edit->text().toStdString();
    else
        edit->setText(QString::fromStdString(value));
}

void DataExchange::Text(QLineEdit* edit, double& value) {
    if (failed_) return;
    if (!save_) {
        edit->setText(FormatDialogDouble(value));
        return;
    }
    if (!ParseDialogDouble(edit->text(), value))
        Fail(edit, QCoreApplication::translate("pelo::DataExchange", "数値を入力してください。"));
}

void DataExchange::Text(QLineEdit* edit, std::uint32_t& value) {
    if (failed_) return;
    if (!save_) {
        edit->setText(QString::number(value));
        return;
    }
    if (!ParseDialogUnsigned(edit->text(), value))
        Fail(edit,
             QCoreApplication::translate("pelo::DataExchange", "正の整数を入力してください。"));
}

void DataExchange::Check(QCheckBox* box, std::uint32_t& value) {
    if (failed_) return;
    if (save_)
        value = box->isChecked() ? 1u : 0u;
    else
        box->setChecked(value != 0);
}

} // namespace pelo
