#include "ui/qt/update_dlg.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

#include "hid/device_match.h"
#include "hid/device_view_backend.h"
#include "protocol/device_probe.h"
#include "protocol/messages.h"
#include "ui/common/dialog_texts.h"
#include "ui/common/guidance_texts.h"
#include "ui/common/image_file.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_text.h"

namespace gps {
namespace {

constexpr int kWatchIntervalMs = 500;

// The local files and folders a drag carries; none when any of it is not
// local. Each path is taken from the URL's own bytes: a name that is not
// UTF-8 (a Big5 name that unzip left from an archive made on Windows) would
// not survive a round trip through QString.
std::vector<DroppedItem> DraggedItems(const QMimeData* data) {
  std::vector<DroppedItem> items;
  if (!data || !data->hasUrls()) return items;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) return {};
    const QByteArray raw =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    std::filesystem::path path(std::string(raw.constData(), static_cast<std::size_t>(raw.size())));
    std::error_code error;
    const bool folder = std::filesystem::is_directory(path, error);
    items.push_back({std::move(path), folder});
  }
  return items;
}

// The file the chooser picked, as the file system names it. The chooser
// shows a name that is not UTF-8 with a replacement character, which names
// no file; the entry of the folder that it stands for is taken instead.
std::filesystem::path ChosenFile(const QString& chosen) {
  const std::filesystem::path direct(QFile::encodeName(chosen).toStdString());
  std::error_code error;
  if (std::filesystem::exists(direct, error)) return direct;
  for (const auto& entry : std::filesystem::directory_iterator(direct.parent_path(), error)) {
    const std::string raw = entry.path().filename().string();
    if (QFile::decodeName(QByteArray(raw.data(), static_cast<qsizetype>(raw.size()))) ==
        QFileInfo(chosen).fileName()) {
      return entry.path();
    }
  }
  return direct;
}

// The interfaces with our vendor and product, from the system's device list:
// nothing is opened.
std::vector<std::string> OurInterfaces(const LinkSettings& link) {
  return MatchingInterfaces(link.backend ? *link.backend : PlatformHidBackend(), HID_VENDOR_ID,
                            HID_PRODUCT_ID);
}

}  // namespace

CUpdateDlg::CUpdateDlg(LinkSettings link, std::filesystem::path file, bool fileGiven,
                       QWidget* parent)
    : QDialog(parent), m_link(link), m_model(std::move(file), fileGiven) {
  m_link.stop = &m_stop;
  setObjectName("update_dialog");
  setWindowTitle(FromUtf8(kDialogTitle));
  // The program's only window: a taskbar entry and a minimise box of its
  // own, fixed in size.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(DluSize(LAYOUT_UPDATE_DIALOG));

  // Made in tab order: "取消" first, so that it has the focus at start and
  // Enter closes the program.
  m_cancel = new QPushButton(QStringLiteral("取消"), this);
  m_cancel->setObjectName("cancel");
  m_cancel->setGeometry(DluRect(LAYOUT_CANCEL));
  m_cancel->setDefault(true);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::accept);

  m_picture = new QLabel(this);
  m_picture->setObjectName("picture");
  // On a screen of twice the pixels or more Qt takes background@2x.png,
  // drawn at twice the size, for a sharp picture in the same place.
  const QPixmap background(QStringLiteral(":/background.png"));
  m_picture->setPixmap(background);
  m_picture->setGeometry(
      QRect(DluRect(LAYOUT_PICTURE).topLeft(), background.deviceIndependentSize().toSize()));

  m_progress = new QProgressBar(this);
  m_progress->setObjectName("progress");
  m_progress->setGeometry(DluRect(LAYOUT_PROGRESS));
  m_progress->setTextVisible(false);

  m_update = new QPushButton(QStringLiteral("更新"), this);
  m_update->setObjectName("update");
  m_update->setGeometry(DluRect(LAYOUT_UPDATE));
  connect(m_update, &QPushButton::clicked, this, &CUpdateDlg::OnUpdate);

  m_status = new QLabel(this);
  m_status->setObjectName("status");
  m_status->setTextFormat(Qt::PlainText);
  m_status->setGeometry(DluRect(LAYOUT_STATUS));

  m_progressLine = new QLabel(this);
  m_progressLine->setObjectName("progress_line");
  m_progressLine->setTextFormat(Qt::PlainText);
  m_progressLine->setGeometry(DluRect(LAYOUT_PROGRESS_LINE));

  setAcceptDrops(true);
  setTabOrder(m_cancel, m_update);
  m_cancel->setFocus();

  DialogReporter::Handlers handlers;
  handlers.status = [this](const QString& text) {
    m_model.JobStatus(text.toStdString());
    Render();
  };
  handlers.stage = [this](JobStage stage) {
    m_model.JobStageBegins(stage, DialogModel::Clock::now());
  };
  handlers.range = [this](uint32_t upper) {
    m_model.JobRange(upper);
    Render();
  };
  handlers.position = [this](uint32_t position) {
    m_model.JobPosition(position, DialogModel::Clock::now());
    Render();
  };
  handlers.message = [this](const QString& text, std::function<void()> closed) {
    PresentMessage(text, std::move(closed));
  };
  m_reporter = std::make_unique<DialogReporter>(std::move(handlers));

  m_tick.setInterval(1000);
  connect(&m_tick, &QTimer::timeout, this, &CUpdateDlg::Render);
  m_watch.setInterval(kWatchIntervalMs);
  connect(&m_watch, &QTimer::timeout, this, &CUpdateDlg::OnWatch);

  // The list first, then the probe: a device that arrives in between is
  // then seen as a change at the next look. The probe opens the device and
  // closes it again before the dialog shows.
  if (m_model.DeviceListLooked(OurInterfaces(m_link), DialogModel::Clock::now())) Probe();
  Render();
}

void CUpdateDlg::Probe() {
  const ProbeResult probe = ProbeDevice(m_link);
  m_model.Probed(probe.outcome, probe.text);
}

void CUpdateDlg::OnWatch() {
  if (!m_shown.watchDevice) return;
  if (m_model.DeviceListLooked(OurInterfaces(m_link), DialogModel::Clock::now())) {
    Probe();
    Render();
  }
  emit DeviceListLooked();
}

CUpdateDlg::~CUpdateDlg() {
  if (m_box) delete m_box.data();
  if (m_worker) {
    // The worker may be waiting on a request that will never be served now.
    m_reporter->Detach();
    m_stop.Set();
    m_worker->wait();
    delete m_worker;
  }
}

void CUpdateDlg::OnUpdate() {
  // As the command-line program does, a look at the device first: with none
  // there nothing is sent, and "更新" stays usable.
  if (PressUpdate(m_model, m_link) == DialogModel::StartAction::Start) StartUpdate();
  Render();
}

void CUpdateDlg::OnCopyAnswered(DialogModel::CopyAnswer answer) {
  if (m_model.CopyAnswered(answer) == DialogModel::StartAction::Start) StartUpdate();
  Render();
}

void CUpdateDlg::StartUpdate() {
  m_model.JobStarted(DialogModel::Clock::now());
  m_stop.Reset();  // a stop meant for an earlier update is void
  m_tick.start();
  m_outcome = std::make_shared<UpdateOutcome>(UpdateOutcome::Succeeded);
  // The worker gets the reporter and copies of what it needs, never the
  // dialog itself.
  m_worker = QThread::create(
      [reporter = m_reporter.get(), link = m_link, file = m_model.File(),
       outcome = m_outcome]() mutable {
        // The job keeps to the first device attached when it starts, even
        // if others come and go meanwhile.
        std::optional<DeviceViewBackend> pinned =
            FirstDeviceView(link.backend ? *link.backend : PlatformHidBackend());
        if (pinned) link.backend = &*pinned;
        UpdateJob job(*reporter, link);
        *outcome = job.LoadAndUpdate(file);
      });
  connect(m_worker, &QThread::finished, this, &CUpdateDlg::OnWorkerFinished);
  m_worker->start();
}

void CUpdateDlg::OnWorkerFinished() {
  if (!m_worker) return;
  m_worker->wait();
  delete m_worker;
  m_worker = nullptr;
  m_tick.stop();
  const DialogModel::AfterJob after = m_model.JobEnded(*m_outcome, DialogModel::Clock::now());
  Render();
  emit UpdateFinished(*m_outcome);
  if (after == DialogModel::AfterJob::Close) QDialog::done(m_model.CloseCode());
}

void CUpdateDlg::done(int result) {
  switch (m_model.CloseRequested(result)) {
    case DialogModel::CloseAction::Close:
      QDialog::done(result);
      return;
    case DialogModel::CloseAction::Ignore:
      return;
    case DialogModel::CloseAction::Ask:
      Render();
      return;
  }
}

void CUpdateDlg::Terminate() { OnCloseAnswered(m_model.EndRequested(QDialog::Rejected)); }

void CUpdateDlg::OnCloseAnswered(bool stop) { OnCloseAnswered(m_model.CloseAnswered(stop)); }

void CUpdateDlg::OnCloseAnswered(DialogModel::AnswerAction action) {
  switch (action) {
    case DialogModel::AnswerAction::Close:
      QDialog::done(m_model.CloseCode());
      return;
    case DialogModel::AnswerAction::StopUpdate:
      // The transfer under way ends at once and the job stops with its
      // failure texts; OnWorkerFinished then closes the dialog.
      m_stop.Set();
      break;
    case DialogModel::AnswerAction::KeepRunning:
      break;
  }
  Render();
}

void CUpdateDlg::PresentMessage(const QString& text, std::function<void()> closed) {
  if (!m_model.JobMessage()) {
    closed();
    return;
  }
  QMessageBox* box = NewBox(QMessageBox::NoIcon, "message", text.toStdString());
  box->setDefaultButton(box->addButton(QStringLiteral("確定"), QMessageBox::AcceptRole));
  connect(box, &QMessageBox::finished, m_reporter.get(), [closed = std::move(closed)] {
    closed();
  });
  box->open();
}

QMessageBox* CUpdateDlg::NewBox(QMessageBox::Icon icon, const char* name,
                                const std::string& text) {
  auto* box = new QMessageBox(icon, QApplication::applicationName(), FromUtf8(text),
                              QMessageBox::NoButton, this);
  box->setObjectName(name);
  box->setTextFormat(Qt::PlainText);  // file names are shown as they are
  box->setAttribute(Qt::WA_DeleteOnClose);
  return box;
}

void CUpdateDlg::RenderBox(const DialogBox& wanted) {
  if (wanted.serial == m_boxSerial) return;
  m_boxSerial = wanted.serial;
  if (m_box) {
    // Taken away by the model: closed unanswered.
    QMessageBox* old = m_box;
    m_box = nullptr;
    disconnect(old, &QMessageBox::finished, this, nullptr);
    old->close();
  }
  QMessageBox* box = nullptr;
  switch (wanted.kind) {
    case DialogBox::Kind::None:
      return;
    case DialogBox::Kind::Message:
      box = NewBox(QMessageBox::NoIcon, "message", wanted.text);
      box->setDefaultButton(box->addButton(QStringLiteral("確定"), QMessageBox::AcceptRole));
      connect(box, &QMessageBox::finished, this, [this] {
        m_box = nullptr;
        m_model.BoxClosed();
        Render();
      });
      break;
    case DialogBox::Kind::Advice:
      box = NewBox(QMessageBox::Warning, "failure_advice", wanted.text);
      box->setStandardButtons(QMessageBox::Ok);
      connect(box, &QMessageBox::finished, this, [this] {
        m_box = nullptr;
        m_model.BoxClosed();
        Render();
      });
      break;
    case DialogBox::Kind::CloseQuestion: {
      box = NewBox(QMessageBox::Warning, "confirm_close", wanted.text);
      QPushButton* stop = box->addButton(FromUtf8(text::kStopUpdate), QMessageBox::DestructiveRole);
      QPushButton* keep = box->addButton(FromUtf8(text::kKeepUpdating), QMessageBox::RejectRole);
      box->setDefaultButton(keep);
      box->setEscapeButton(keep);
      connect(box, &QMessageBox::finished, this, [this, box, stop] {
        m_box = nullptr;  // the box goes later; the question is answered now
        OnCloseAnswered(box->clickedButton() == stop);
      });
      break;
    }
    case DialogBox::Kind::CopyQuestion: {
      box = NewBox(QMessageBox::Question, "offer_question", wanted.text);
      QPushButton* take = box->addButton(FromUtf8(text::kUseThisFile), QMessageBox::AcceptRole);
      QPushButton* keep = nullptr;
      if (!wanted.keepLabel.empty())
        keep = box->addButton(FromUtf8(wanted.keepLabel), QMessageBox::AcceptRole);
      QPushButton* cancel = box->addButton(FromUtf8(text::kCancel), QMessageBox::RejectRole);
      box->setDefaultButton(take);
      box->setEscapeButton(cancel);
      connect(box, &QMessageBox::finished, this, [this, box, take, keep] {
        m_box = nullptr;
        const QAbstractButton* clicked = box->clickedButton();
        OnCopyAnswered(clicked == take               ? DialogModel::CopyAnswer::TakeCopy
                       : keep && clicked == keep ? DialogModel::CopyAnswer::KeepFile
                                                 : DialogModel::CopyAnswer::Cancel);
      });
      break;
    }
  }
  m_box = box;
  box->open();
}

void CUpdateDlg::contextMenuEvent(QContextMenuEvent* event) {
  // Window managers give applications no system menu to add to, so the
  // About entry lives here.
  auto* menu = new QMenu(this);
  menu->setObjectName("context_menu");
  menu->setAttribute(Qt::WA_DeleteOnClose);
  QAction* choose = menu->addAction(FromUtf8(text::kChooseFile));
  choose->setObjectName("choose_file");
  choose->setEnabled(m_shown.chooseFileEnabled);
  connect(choose, &QAction::triggered, this, &CUpdateDlg::OnChooseFile);
  QAction* about = menu->addAction(QStringLiteral("關於 Update(&A)..."));
  connect(about, &QAction::triggered, this, &CUpdateDlg::OnAbout);
  menu->popup(event->globalPos());
}

void CUpdateDlg::OnChooseFile() {
  const std::filesystem::path& current = m_model.File();
  const QString folder =
      current.has_parent_path() ? FromPath(current.parent_path()) : QDir::currentPath();
  auto* chooser = new QFileDialog(this, FromUtf8(text::kChooseFile), folder,
                                  FromUtf8(text::kImageFilesFilter) + QStringLiteral(";;") +
                                      FromUtf8(text::kAllFilesFilter));
  chooser->setObjectName("file_dialog");
  chooser->setFileMode(QFileDialog::ExistingFile);
  chooser->setAttribute(Qt::WA_DeleteOnClose);
  connect(chooser, &QFileDialog::fileSelected, this,
          [this](const QString& file) { FileChosen(ChosenFile(file)); });
  chooser->open();
}

void CUpdateDlg::FileChosen(const std::filesystem::path& file) {
  if (m_model.FileChosen(file)) Render();
}

void CUpdateDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (m_shown.chooseFileEnabled && !DraggedItems(event->mimeData()).empty()) {
    event->acceptProposedAction();
  }
}

void CUpdateDlg::dropEvent(QDropEvent* event) {
  const std::vector<DroppedItem> items = DraggedItems(event->mimeData());
  if (items.empty()) return;
  event->acceptProposedAction();
  if (m_model.Dropped(items)) Render();
}

void CUpdateDlg::OnAbout() {
  // A fresh box each time; the main dialog stays blocked while it is open,
  // and the worker's requests go on being served behind it.
  auto* about = new CAboutDlg(this);
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->open();
}

void CUpdateDlg::Render() {
  DialogView view = ViewWithImageLooked(m_model, DialogModel::Clock::now());
  const bool all = !m_rendered;
  m_rendered = true;
  // Positions come once a page: only what changed is touched.
  if (all || view.status != m_shown.status) m_status->setText(FromUtf8(view.status));
  if (all || view.statusFailed != m_shown.statusFailed) {
    // The platform's own colour for a warning would be lost on some
    // styles: a plain dark red reads as one on every one.
    m_status->setStyleSheet(view.statusFailed ? QStringLiteral("color: #b00020;") : QString());
  }
  if (all || view.progressLine != m_shown.progressLine)
    m_progressLine->setText(FromUtf8(view.progressLine));
  if (all || view.title != m_shown.title) setWindowTitle(FromUtf8(view.title));
  RenderBar(view.barRange, view.barPosition);
  m_update->setEnabled(view.updateEnabled);
  m_cancel->setEnabled(view.cancelEnabled);
  // A laptop that sleeps halfway leaves the device without a database.
  if (view.keepAwake && !m_awake) m_awake = SleepInhibitor::Acquire(kKeepAwakeReason);
  if (!view.keepAwake) m_awake.reset();
  if (view.watchDevice && !m_watch.isActive()) m_watch.start();
  if (!view.watchDevice) m_watch.stop();
  const DialogBox box = view.box;
  m_shown = std::move(view);
  RenderBox(box);
}

void CUpdateDlg::RenderBar(uint32_t range, uint32_t position) {
  // A QProgressBar with an empty range turns into a busy indicator: the
  // model's empty bar is a range of one, at 0.
  const int maximum = range == 0 ? 1 : static_cast<int>(range);
  const int value = static_cast<int>(position);
  if (maximum == m_progress->maximum()) {
    m_progress->setValue(value);
  } else if (maximum < m_progress->maximum()) {
    // The position first, while it is inside both ranges: a QProgressBar
    // given a range that leaves its value outside resets it.
    m_progress->setValue(value);
    m_progress->setRange(0, maximum);
  } else {
    m_progress->setRange(0, maximum);
    m_progress->setValue(value);
  }
}

}  // namespace gps
