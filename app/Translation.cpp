#include "app/Translation.h"

#include <QCoreApplication>
#include <QTranslator>
#include <cstdlib>
#include <memory>

namespace pelo {

namespace {

QString FirstNamedLanguage() {
    if (const char* list = std::getenv("LANGUAGE"); list && *list)
        return QString::fromLocal8Bit(list).section(QLatin1Char(':'), 0, 0);
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(name); value && *value)
            return QString::fromLocal8Bit(value);
    return {};
}

std::unique_ptr<QTranslator>& Installed() {
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

} // namespace

UiLanguage LanguageFromEnvironment() {
    const QString language = FirstNamedLanguage();
    const bool english = language == QLatin1String("en") ||
                         language.startsWith(QLatin1String("en_")) ||
                         language.startsWith(QLatin1String("en."));
    return english ? UiLanguage::English : UiLanguage::Japanese;
}

bool UseLanguage(UiLanguage language) {
    std::unique_ptr<QTranslator>& installed = Installed();
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    if (language == UiLanguage::Japanese) return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral(":/i18n/pelo_en.qm"))) return false;
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
    return true;
}

} // namespace pelo
