#include "app/PeloDlg.h"

#include "app/AboutDlg.h"
#include "app/DataExchange.h"
#include "app/DetailSetDlg.h"
#include "app/DialogUnits.h"
#include "app/MessageBoxes.h"
#include "app/PeloApp.h"
#include "app/PreviewWnd.h"
#include "app/Resources.h"
#include "app/WindowPlacement.h"
#include "image/Allocation.h"
#include "pipeline/BatchFiles.h"
#include "pipeline/BatchRunner.h"
#include "pipeline/FileKinds.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QUrl>
#include <exception>
#include <new>
#include <thread>

namespace pelo {

namespace {

constexpr int kListEntryRole = Qt::UserRole;

QString ListDisplayText(const std::string& entry) {
    return QString::fromLocal8Bit(entry);
}

} // namespace

CPeloDlg::CPeloDlg(CPeloApp& app, std::function<CodecFormats()> codec, QWidget* parent)
    : QDialog(parent), app_(app), codec_(std::move(codec)), sink_(this) {
    setObjectName(QStringLiteral("102"));
    setWindowTitle(tr("Pelo -アンチエイリアジング-"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    LoadResources();
    setWindowIcon(QIcon(QStringLiteral(":/pelo/pelo.png")));
    BuildControls();
    connect(&run_, &BackgroundRun::fileFinished, this, &CPeloDlg::FileFinished);
}

CPeloDlg::~CPeloDlg() {
    if (run_.running()) {
        run_.RequestStop();
        run_.WaitInEventLoop();
    }
}

void CPeloDlg::BuildControls() {
    setFont(MainDialogFont());
    const DialogBaseUnits du = BaseUnitsFor(font());
    baseSize_ = DialogSize(du, 190, 229);
    setMinimumSize(baseSize_);
    resize(baseSize_);
    // Each control is placed at the smallest size and anchored for growth:
    // the file list takes the extra room, what is below it moves down.
    auto place = [&](QWidget* w, int l, int t, int wd, int ht, unsigned anchors) {
        w->setGeometry(DialogRect(du, l, t, wd, ht));
        anchors_.Add(w, anchors);
    };
    auto label = [&](const char* text, int l, int t, int wd, int ht, unsigned anchors) {
        auto* w = new QLabel(tr(text), this);
        place(w, l, t, wd, ht, anchors);
        return w;
    };
    auto group = [&](const char* text, int l, int t, int wd, int ht, unsigned anchors) {
        auto* w = new QGroupBox(tr(text), this);
        // The caption sits on the frame's top line, as the template draws it.
        const int half = w->fontMetrics().height() / 2;
        w->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); "
                                        "border-radius: 2px; margin-top: %1px; }"
                                        "QGroupBox::title { subcontrol-origin: margin; "
                                        "left: 6px; padding: 0 2px; }")
                             .arg(half));
        place(w, l, t, wd, ht, anchors);
    };
    auto button = [&](int id, const char* text, int l, int t, int wd, int ht, unsigned anchors) {
        auto* w = new QPushButton(tr(text), this);
        w->setObjectName(QString::number(id));
        place(w, l, t, wd, ht, anchors);
        return w;
    };
    auto edit = [&](int id, int l, int t, int wd, int ht, unsigned anchors) {
        auto* w = new QLineEdit(this);
        w->setObjectName(QString::number(id));
        place(w, l, t, wd, ht, anchors);
        return w;
    };
    auto combo = [&](int id, int l, int t, int wd, int dropHeight, unsigned anchors) {
        auto* w = new QComboBox(this);
        w->setObjectName(QString::number(id));
        w->setEditable(true);
        w->setInsertPolicy(QComboBox::NoInsert);
        place(w, l, t, wd, 12, anchors);
        // The template's height is that of the open list.
        const int itemHeight = std::max(1, w->fontMetrics().height() + 2);
        w->setMaxVisibleItems(std::max(1, DialogUnitsToPixelsY(du, dropHeight - 12) / itemHeight));
        return w;
    };
    auto check = [&](int id, const char* text, int l, int t, int wd, int ht) {
        auto* w = new QCheckBox(tr(text), this);
        w->setObjectName(QString::number(id));
        place(w, l, t, wd, ht, kAnchorFixed);
        return w;
    };
    constexpr unsigned kBelow = kMoveDown;
    constexpr unsigned kBelowWide = kMoveDown | kGrowWidth;
    constexpr unsigned kBelowRight = kMoveDown | kMoveRight;

    group(QT_TR_NOOP("入力"), 7, 9, 176, 76, kGrowWidth | kGrowHeight);
    inputFolderEdit_ = edit(1008, 11, 18, 134, 12, kGrowWidth);
    QPushButton* browseInput = button(1002, QT_TR_NOOP("指定"), 149, 17, 32, 13, kMoveRight);
    label(QT_TR_NOOP("形式"), 13, 36, 15, 8, kAnchorFixed);
    inputTypes_ = combo(1007, 30, 34, 38, 211, kAnchorFixed);
    whiteBox_ = check(1010, QT_TR_NOOP("白を透明扱い"), 79, 34, 52, 13);
    recursiveBox_ = check(1011, QT_TR_NOOP("再起検索"), 135, 34, 41, 13);
    fileList_ = new QListWidget(this);
    fileList_->setObjectName(QStringLiteral("1001"));
    fileList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    place(fileList_, 12, 52, 165, 29, kGrowWidth | kGrowHeight);

    group(QT_TR_NOOP("設定"), 7, 88, 176, 36, kBelowWide);
    label(QT_TR_NOOP("検出(1-255)"), 13, 97, 88, 8, kBelow);
    thresholdEdit_ = edit(1009, 13, 109, 21, 12, kBelow);
    countLabel_ = label("", 38, 111, 64, 9, kBelow);
    countLabel_->setObjectName(QStringLiteral("count"));
    QPushButton* detail = button(4, QT_TR_NOOP("詳細設定"), 104, 97, 35, 21, kBelowRight);
    QPushButton* preview = button(3, QT_TR_NOOP("プレビュー"), 141, 97, 35, 21, kBelowRight);
    preview->setToolTip(tr("選んだファイルの変換前と変換後を見比べる (Ctrl+P)"));

    group(QT_TR_NOOP("出力"), 7, 127, 177, 47, kBelowWide);
    outputFolderEdit_ = edit(1005, 12, 139, 135, 12, kBelowWide);
    QPushButton* browseOutput = button(1004, QT_TR_NOOP("指定"), 150, 139, 32, 13, kBelowRight);
    label(QT_TR_NOOP("形式"), 10, 157, 15, 8, kBelow);
    outputTypes_ = combo(1006, 27, 155, 38, 119, kBelow);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("1000"));
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    place(progress_, 7, 180, 176, 14, kBelowWide);

    runButton_ = button(1, QT_TR_NOOP("実行"), 7, 198, 50, 24, kBelow);
    QPushButton* quit = button(2, QT_TR_NOOP("終了"), 133, 200, 50, 22, kBelowRight);
    runButton_->setDefault(true);

    for (QLineEdit* folder : {inputFolderEdit_, outputFolderEdit_})
        folder->installEventFilter(this);

    connect(browseOutput, &QPushButton::clicked, this, &CPeloDlg::OnBrowseOutput);
    connect(browseInput, &QPushButton::clicked, this, &CPeloDlg::OnBrowseInput);
    connect(inputTypes_, &QComboBox::activated, this, [this](int) { RebuildFileList(); });
    connect(outputTypes_, &QComboBox::currentIndexChanged, this, [this] {
        UpdateCount();
        RefreshPreview();
    });
    thresholdEdit_->installEventFilter(this);
    connect(thresholdEdit_, &QLineEdit::textChanged, this, &CPeloDlg::RefreshPreview);
    connect(whiteBox_, &QCheckBox::toggled, this, &CPeloDlg::RefreshPreview);
    connect(fileList_, &QListWidget::currentRowChanged, this, &CPeloDlg::RefreshPreview);
    connect(detail, &QPushButton::clicked, this, &CPeloDlg::OnDetailSettings);
    connect(preview, &QPushButton::clicked, this, &CPeloDlg::OnPreview);
    auto* previewKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), this);
    connect(previewKey, &QShortcut::activated, this, &CPeloDlg::OnPreview);
    connect(runButton_, &QPushButton::clicked, this, &CPeloDlg::accept);
    connect(quit, &QPushButton::clicked, this, &CPeloDlg::reject);
}

void CPeloDlg::resizeEvent(QResizeEvent* event) {
    anchors_.Apply(baseSize_, event->size());
    QDialog::resizeEvent(event);
}

bool CPeloDlg::DropFolder(QLineEdit* edit, QEvent* event) {
    auto* drop = static_cast<QDropEvent*>(event);
    const QList<QUrl> urls = drop->mimeData()->urls();
    const QString folder =
        urls.size() == 1 && urls.front().isLocalFile() ? urls.front().toLocalFile() : QString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return false;
    drop->acceptProposedAction();
    if (event->type() != QEvent::Drop) return true;
    const std::string path = folder.toLocal8Bit().toStdString();
    if (edit == inputFolderEdit_) {
        state_.inputFolder = path;
        RebuildFileList();
    } else {
        state_.outputFolder = path;
        UpdateData(false);
        RefreshPreview();
    }
    return true;
}

bool CPeloDlg::eventFilter(QObject* watched, QEvent* event) {
    // A folder dropped on a folder field takes its place.
    if ((watched == inputFolderEdit_ || watched == outputFolderEdit_) &&
        (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
         event->type() == QEvent::Drop) &&
        DropFolder(static_cast<QLineEdit*>(watched), event))
        return true;
    // The threshold is read back when its edit loses the focus to another
    // control; a window switch (a message box opening) is not such a move.
    if (watched == thresholdEdit_ && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            UpdateData(true);
    }
    return QDialog::eventFilter(watched, event);
}

int CPeloDlg::DoModal() {
    OnInitDialog();
    return exec();
}

void CPeloDlg::OnInitDialog() {
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    auto* about = new QAction(tr("ﾊﾞｰｼﾞｮﾝ情報(Pelo) (&A)..."), this);
    about->setObjectName(QStringLiteral("16"));
    connect(about, &QAction::triggered, this, &CPeloDlg::OnAbout);
    addAction(separator);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    UseUserDefaultLocale();
    FillFormatLists();

    LoadSettings(app_.profile(), state_);
    auto select = [](QComboBox* list, int index) {
        list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
    };
    select(inputTypes_, state_.inputTypeIndex);
    select(outputTypes_, state_.outputTypeIndex);
    if (const auto placement = LoadWindowPlacement(app_.profile()))
        RestoreWindowPlacement(*this, *placement);

    UpdateData(false);
    RebuildFileList();
    UpdateData(false);
}

void CPeloDlg::FillFormatLists() {
    const CodecFormats codec = codec_();
    if (!codec.started) ShowMessageBox(this, QStringLiteral("cannot use GDI+ runtime"));
    const FormatLists lists = BuildFormatLists(codec);
    for (const std::string& pattern : lists.input)
        inputTypes_->addItem(QString::fromStdString(pattern));
    for (const std::string& pattern : lists.output)
        outputTypes_->addItem(QString::fromStdString(pattern));
}

bool CPeloDlg::UpdateData(bool saveAndValidate) {
    DataExchange dx(this, saveAndValidate);
    dx.Text(outputFolderEdit_, state_.outputFolder);
    dx.Text(inputFolderEdit_, state_.inputFolder);
    dx.Text(thresholdEdit_, state_.settings.detectThreshold);
    dx.Check(whiteBox_, state_.settings.whiteAsTransparent);
    dx.Check(recursiveBox_, state_.recursiveSearch);
    return dx.ok();
}

std::string CPeloDlg::SelectedPattern(const QComboBox* list) const {
    const int index = list->currentIndex();
    return index < 0 ? std::string() : list->itemText(index).toStdString();
}

void CPeloDlg::AddListEntry(const std::string& entry) {
    auto* item = new QListWidgetItem(ListDisplayText(entry));
    item->setData(kListEntryRole, QByteArray::fromStdString(entry));
    fileList_->addItem(item);
}

std::string CPeloDlg::ListEntry(int row) const {
    return fileList_->item(row)->data(kListEntryRole).toByteArray().toStdString();
}

void CPeloDlg::RebuildFileList() {
    fileList_->clear();
    const std::string pattern = SelectedPattern(inputTypes_);
    state_.recursiveSearch = recursiveBox_->isChecked() ? 1u : 0u;
    // Without a selected format there is nothing to match.
    if (!pattern.empty()) {
        std::vector<std::string> entries;
        if (state_.recursiveSearch)
            CollectFilesRecursive(state_.inputFolder, pattern.substr(1), entries);
        else
            ListFolder(state_.inputFolder, pattern, entries);
        SortFileList(entries);
        for (const std::string& entry : entries)
            AddListEntry(entry);
    }
    UpdateData(false);
    UpdateCount();
    RefreshPreview();
}

int CPeloDlg::ConvertibleCount() const {
    if (SelectedPattern(outputTypes_).empty()) return 0;
    int count = 0;
    for (int i = 0; i < fileList_->count(); ++i)
        count += !IsFolderEntry(state_.inputFolder, ListEntry(i));
    return count;
}

void CPeloDlg::UpdateCount() {
    countLabel_->setText(tr("変換対象 %n 個", nullptr, ConvertibleCount()));
}

void CPeloDlg::accept() {
    // The run button stops a run going.
    if (run_.running())
        StopRun();
    else
        BatchRun();
}

void CPeloDlg::StopRun() {
    if (!run_.running()) return;
    run_.RequestStop();
    runButton_->setEnabled(false);
}

void CPeloDlg::SetRunning(bool running) {
    if (running) {
        for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (w != runButton_ && w != progress_ && !w->isWindow() && w->isEnabled()) {
                w->setEnabled(false);
                disabledByRun_.append(w);
            }
        runButton_->setText(tr("中止"));
    } else {
        for (const QPointer<QWidget>& w : disabledByRun_)
            if (w) w->setEnabled(true);
        disabledByRun_.clear();
        runButton_->setText(tr("実行"));
        runButton_->setEnabled(true);
    }
}

void CPeloDlg::FileFinished(const BatchEntry& entry, const Status& status) {
    // Entries left by a stopped run move the bar only when it fills at the
    // end; the entry whose error stopped it has its own box.
    if (status.code == StatusCode::Stopped || status.code == StatusCode::Aborted) return;
    if (!status.ok()) {
        failures_ += QString::fromLocal8Bit(std::string(FileName(entry.input))) +
                     QStringLiteral(": ") + QString::fromStdString(status.reason) +
                     QStringLiteral("\n");
        ++failed_;
    }
    progress_->setValue(++done_);
    UpdateData(false);
}

void CPeloDlg::ReportAbort(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        ShowMessageBox(this, tr("メモリが不足しています。"), QMessageBox::Warning);
    } catch (const std::exception& e) {
        ShowMessageBox(this, QString::fromLocal8Bit(e.what()), QMessageBox::Warning);
    } catch (...) {
        ShowMessageBox(this, tr("不明なエラーが発生しました。"), QMessageBox::Warning);
    }
}

void CPeloDlg::BatchRun() {
    if (run_.running()) return;
    UpdateData(true);
    const int count = fileList_->count();
    progress_->setRange(0, count);
    progress_->setValue(0);
    UpdateData(false);

    // A format typed by hand names no output, and a sub-folder of the list
    // is no file: such entries are passed over.
    std::vector<BatchEntry> entries;
    const std::string pattern = SelectedPattern(outputTypes_);
    for (int i = 0; i < count && !pattern.empty(); ++i) {
        const std::string entry = ListEntry(i);
        if (IsFolderEntry(state_.inputFolder, entry)) continue;
        entries.push_back({FormInputPath(state_.inputFolder, entry),
                           FormOutputPath(state_.outputFolder, entry, pattern)});
    }

    SetMaxPicturePixels(state_.maxPicturePixels);
    BatchOptions options;
    options.settings = state_.settings;
    options.memoryBudget = std::size_t{state_.maxRunMemoryMib} << 20;
    options.sink = &sink_;
    options.session = &session_;
    // Files in parallel, as the command line does; the bytes do not depend
    // on it.
    options.jobs = std::max(1u, std::thread::hardware_concurrency());
    session_.sink = &sink_;
    if (runEntry_) {
        options.jobs = 1;
        options.process = [this](ConversionSession&, bool layered, const std::string& in,
                                 const std::string& out) {
            runEntry_(layered, in, out);
            return Status{};
        };
    }
    // Replacing inputs needs a word from the user; No runs nothing.
    if (const std::size_t replaced = PlanBatch(entries, false).wouldReplace; replaced > 0) {
        const QString question =
            tr("出力先が入力元と同じため、%1 個の入力ファイルが変換結果で置き換えられます。"
               "置き換えますか？")
                .arg(replaced);
        if (!AskYesNo(this, question)) {
            progress_->setValue(0);
            UpdateData(false);
            return;
        }
        options.inPlace = true;
    }

    done_ = count - static_cast<int>(entries.size());
    failed_ = 0;
    failures_.clear();
    SetRunning(true);
    run_.Start(std::move(entries), std::move(options));
    run_.WaitInEventLoop();
    SetRunning(false);
    const bool stopped = run_.stopRequested() && run_.summary().notProcessed > 0;
    if (run_.abortReason()) ReportAbort(run_.abortReason());

    progress_->setValue(count);
    UpdateData(false);
    ShowMessageBox(this, tr("完了"), QMessageBox::Warning);
    if (stopped)
        ShowMessageBox(
            this, tr("中止しました。%1 個のファイルを変換しました。").arg(run_.summary().converted),
            QMessageBox::Information);
    if (failed_ > 0)
        ShowMessageBox(this,
                       tr("%1 個のファイルを変換できませんでした。\n\n").arg(failed_) + failures_,
                       QMessageBox::Warning);
    progress_->setValue(0);
    UpdateData(false);
}

bool CPeloDlg::ChooseFolder(QWidget* owner, std::string& folder, const QString& title,
                            const std::string& initial) {
    QFileDialog dialog(owner, title, QString::fromLocal8Bit(initial));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList picked = dialog.selectedFiles();
    if (picked.isEmpty()) return false;
    folder = picked.front().toLocal8Bit().toStdString();
    return true;
}

void CPeloDlg::OnBrowseInput() {
    std::string picked;
    if (!chooseFolder_(this, picked, tr("画像ﾌｧｲﾙ入力元ﾌｫﾙﾀﾞｰを指定して下さい"),
                       state_.inputFolder))
        return;
    state_.inputFolder = picked;
    RebuildFileList();
}

void CPeloDlg::OnBrowseOutput() {
    std::string picked;
    const std::string& initial =
        state_.outputFolder.empty() ? state_.inputFolder : state_.outputFolder;
    if (!chooseFolder_(this, picked, tr("画像ﾌｧｲﾙ出力先ﾌｫﾙﾀﾞｰを指定して下さい"), initial)) return;
    state_.outputFolder = picked;
    UpdateData(false);
    RefreshPreview();
}

void CPeloDlg::OnDetailSettings() {
    EditDetails(this);
}

void CPeloDlg::EditDetails(QWidget* owner) {
    CDetailSetDlg dialog(owner);
    dialog.CopyFrom(state_.settings);
    dialog.CopyResultFrom(state_.settings);
    if (dialog.DoModal() != 1) return;
    dialog.CopyTo(state_.settings);
    // A preset may have set the threshold.
    const std::uint32_t threshold = state_.settings.detectThreshold;
    dialog.CopyResultTo(state_.settings);
    if (state_.settings.detectThreshold != threshold)
        thresholdEdit_->setText(QString::number(state_.settings.detectThreshold));
    RefreshPreview();
}

ConversionSettings CPeloDlg::PreviewSettings() const {
    ConversionSettings settings = state_.settings;
    std::uint32_t threshold = 0;
    if (ParseDialogUnsigned(thresholdEdit_->text(), threshold))
        settings.detectThreshold = threshold;
    settings.whiteAsTransparent = whiteBox_->isChecked() ? 1u : 0u;
    return settings;
}

CPreviewWnd* CPeloDlg::preview() const {
    return preview_;
}

void CPeloDlg::OnPreview() {
    if (!preview_) {
        preview_ = new CPreviewWnd(this);
        preview_->setAttribute(Qt::WA_DeleteOnClose);
        connect(preview_, &CPreviewWnd::thresholdEdited, this, [this](unsigned threshold) {
            if (!run_.running()) thresholdEdit_->setText(QString::number(threshold));
        });
        connect(preview_, &CPreviewWnd::detailRequested, this, [this] {
            if (!run_.running()) EditDetails(preview_);
        });
    }
    if (!preview_->isVisible()) {
        // Beside the dialog when the screen has room for it there.
        const QRect frame = frameGeometry();
        const QRect place(frame.topRight() + QPoint(8, 0), preview_->size());
        if (screen() && screen()->availableGeometry().contains(place))
            preview_->move(place.topLeft());
    }
    preview_->show();
    preview_->raise();
    preview_->activateWindow();
    RefreshPreview();
}

void CPeloDlg::RefreshPreview() {
    if (!preview_ || !preview_->isVisible()) return;
    int row = fileList_->currentRow();
    for (int i = 0; row < 0 && i < fileList_->count(); ++i)
        if (!IsFolderEntry(state_.inputFolder, ListEntry(i))) row = i;
    if (row < 0) {
        preview_->ShowFile({}, {}, PreviewSettings());
        return;
    }
    const std::string entry = ListEntry(row);
    const std::string input = FormInputPath(state_.inputFolder, entry);
    const std::string pattern = SelectedPattern(outputTypes_);
    // The roles a run gives the file: without an output format nothing is
    // written, so nothing is flattened.
    const PictureRoles roles{
        IsAlphaInput(input),
        pattern.empty() || IsAlphaOutput(FormOutputPath(state_.outputFolder, entry, pattern))};
    preview_->ShowFile(IsFolderEntry(state_.inputFolder, entry) ? std::string() : input, roles,
                       PreviewSettings());
}

void CPeloDlg::OnAbout() {
    CAboutDlg dialog(this);
    dialog.exec();
}

void CPeloDlg::reject() {
    // Escape and the close box stop a run; they quit only when none is going.
    if (run_.running()) {
        StopRun();
        return;
    }
    UpdateData(true);
    SaveTypeIndices(app_.profile(), outputTypes_->currentIndex(), inputTypes_->currentIndex());
    done(2);
}

} // namespace pelo
