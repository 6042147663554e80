#include "ui/mirla_dashboard_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <string_view>

#include "core/log.h"
#include "learning/mirla_data_store.h"
#include "ui/autostart_entry.h"
#include "ui/dashboard_text.h"
#include "ui/key_file_store.h"
#include "ui/mirla_account_client.h"
#include "ui/mirla_update_checker.h"
#include "ui/provider_summary.h"

namespace sorvane {
namespace {

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// What the history and feedback views show; the store reads up to 2000 for the figures.
constexpr std::size_t kShownRecords = 200;

struct KeyRow {
  std::string_view file;
  const char* label;
};
constexpr std::array<KeyRow, 3> kKeyRows{{
    {kDashScopeKeyFile, "DashScope（Qwen 识别与整理）"},
    {kDeepSeekKeyFile, "DeepSeek（整理）"},
    {kDeepgramKeyFile, "Deepgram（备用识别）"},
}};

struct SwitchRow {
  std::string_view file;
  const char* label;
};
constexpr std::array<SwitchRow, 3> kSwitchRows{{
    {kVoiceProcessingSwitch, "录音降噪与增益（enable-voice-processing-io）"},
    {kFfmpegSpeechNormSwitch, "ffmpeg 语音规整（enable-ffmpeg-speechnorm）"},
    {kQwenCorpusHintSwitch, "把词典作为 Qwen 识别提示（enable-qwen-corpus-hint）"},
}};

QLabel* plain(const QString& text, QWidget* parent, int pixels = 0, bool bold = false) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setOpenExternalLinks(false);
  label->setWordWrap(true);
  if (pixels > 0 || bold) {
    QFont font = label->font();
    if (pixels > 0) font.setPixelSize(pixels);
    if (bold) font.setWeight(QFont::DemiBold);
    label->setFont(font);
  }
  return label;
}

QLabel* header(const QString& text, QWidget* parent) { return plain(text, parent, 20, true); }

QPlainTextEdit* readOnlyView(QWidget* parent) {
  auto* view = new QPlainTextEdit(parent);
  view->setReadOnly(true);
  view->setFrameShape(QFrame::NoFrame);
  view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  return view;
}

// The autostart entry runs the executable running now, by its absolute path, so the one
// the user turned the box on in starts at login: /usr/bin/sorvane for a package, the
// binary in a build folder for a developer's build (no PATH lookup picking another copy).
// The bare name, looked up on PATH at login, is the fallback when the running file is not
// there any more (a package upgrade replaced it: the link then reads "... (deleted)").
std::string startAtLoginProgram() {
  const QString path = QCoreApplication::applicationFilePath();
  if (!path.startsWith(QLatin1Char('/')) || !QFileInfo(path).isExecutable()) return "sorvane";
  return path.toStdString();
}

std::string folderOf(const std::string& filePath) {
  const auto slash = filePath.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : filePath.substr(0, slash);
}

}  // namespace

// --- chart ---

MirlaTrendChartView::MirlaTrendChartView(QWidget* parent) : QWidget(parent) { setMinimumHeight(180); }

void MirlaTrendChartView::setPoints(std::vector<std::pair<std::string, int64_t>> points) {
  points_ = std::move(points);
  update();
}

void MirlaTrendChartView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& pal = palette();
  QColor card = pal.color(QPalette::Base);
  painter.setPen(Qt::NoPen);
  painter.setBrush(card);
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
  QFont font = painter.font();
  font.setPixelSize(13);
  font.setWeight(QFont::DemiBold);
  painter.setFont(font);
  painter.setPen(pal.color(QPalette::Text));
  painter.drawText(QRectF(16, 10, width() - 32, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("近 7 天输入趋势"));
  if (points_.empty()) return;
  const QRectF plot(24, 42, width() - 48, height() - 42 - 30);
  int64_t top = 1;
  for (const auto& point : points_) top = std::max(top, point.second);
  const double slot = plot.width() / static_cast<double>(points_.size());
  const double barWidth = std::min(36.0, slot * 0.56);
  QColor accent = pal.color(QPalette::Highlight);
  font.setPixelSize(11);
  font.setWeight(QFont::Normal);
  painter.setFont(font);
  QColor muted = pal.color(QPalette::Text);
  muted.setAlpha(150);
  for (std::size_t i = 0; i < points_.size(); ++i) {
    const double value = static_cast<double>(std::max<int64_t>(points_[i].second, 0));
    const double h = std::max(2.0, plot.height() * value / static_cast<double>(top));
    const double x = plot.left() + slot * static_cast<double>(i) + (slot - barWidth) / 2;
    QColor fill = accent;
    fill.setAlpha(i + 1 == points_.size() ? 255 : 150);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(x, plot.bottom() - h, barWidth, h), 5, 5);
    painter.setPen(muted);
    painter.drawText(QRectF(x - 14, plot.bottom() + 6, barWidth + 28, 16), Qt::AlignCenter,
                     QString::fromStdString(points_[i].first));
    if (points_[i].second > 0) {
      painter.drawText(QRectF(x - 20, plot.bottom() - h - 18, barWidth + 40, 16), Qt::AlignCenter,
                       QString::fromStdString(formatCount(points_[i].second)));
    }
  }
}

// --- window ---

MirlaDashboardWindow::MirlaDashboardWindow(DashboardServices services)
    : QWidget(nullptr), services_(std::move(services)) {
  setWindowTitle(qs(kDashboardWindowTitle));
  setObjectName(QStringLiteral("sorvane-dashboard"));
  resize(920, 640);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* sidebar = new QFrame(this);
  sidebar->setObjectName(QStringLiteral("sidebar"));
  sidebar->setFixedWidth(168);
  sidebar->setAutoFillBackground(true);
  QPalette sidePalette = sidebar->palette();
  sidePalette.setColor(QPalette::Window, palette().color(QPalette::AlternateBase));
  sidebar->setPalette(sidePalette);
  auto* sideLayout = new QVBoxLayout(sidebar);
  sideLayout->setContentsMargins(12, 18, 12, 18);
  sideLayout->setSpacing(4);
  sideLayout->addWidget(plain(QStringLiteral("Mirla"), sidebar, 22, true));
  sideLayout->addSpacing(10);
  sidebar_ = new QButtonGroup(this);
  sidebar_->setExclusive(true);
  const char* titles[kDashboardSectionCount] = {"概览", "历史", "词典", "反馈", "账号", "设置"};
  for (int i = 0; i < kDashboardSectionCount; ++i) {
    auto* button = new QPushButton(QString::fromUtf8(titles[i]), sidebar);
    button->setCheckable(true);
    button->setFlat(true);
    button->setMinimumHeight(34);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { text-align: left; padding: 6px 12px; border-radius: 8px; }"
        "QPushButton:checked { background: palette(highlight); color: palette(highlighted-text); }"));
    sidebar_->addButton(button, i);
    sideLayout->addWidget(button);
  }
  sideLayout->addStretch(1);
  layout->addWidget(sidebar);

  pages_ = new QStackedWidget(this);
  pages_->addWidget(buildOverview());
  pages_->addWidget(buildTextSection(QStringLiteral("历史记录"), history_));
  pages_->addWidget(buildDictionary());
  pages_->addWidget(buildTextSection(QStringLiteral("反馈样本"), feedback_));
  pages_->addWidget(buildAccount());
  pages_->addWidget(buildSettings());
  layout->addWidget(pages_, 1);

  QObject::connect(sidebar_, &QButtonGroup::idClicked, this,
                   [this](int id) { showSection(static_cast<MirlaDashboardSection>(id)); });
  showSection(MirlaDashboardSection::overview);
  // Ctrl+W closes the window (it only hides: the app keeps running in the tray).
  auto* close = new QShortcut(QKeySequence::Close, this);
  QObject::connect(close, &QShortcut::activated, this, [this] { hide(); });
}

MirlaDashboardWindow::~MirlaDashboardWindow() = default;

QWidget* MirlaDashboardWindow::buildOverview() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(16);
  auto* top = new QHBoxLayout();
  top->addWidget(header(QStringLiteral("使用概览"), page), 1);
  auto* refreshButton = new QPushButton(QStringLiteral("刷新"), page);
  QObject::connect(refreshButton, &QPushButton::clicked, this, [this] { refresh(); });
  top->addWidget(refreshButton);
  layout->addLayout(top);
  auto* cards = new QHBoxLayout();
  cards->setSpacing(12);
  const char* cardTitles[3] = {"今日说话", "今日字数", "今日节省"};
  for (const char* title : cardTitles) {
    auto* card = new QFrame(page);
    card->setAutoFillBackground(true);
    QPalette cardPalette = card->palette();
    cardPalette.setColor(QPalette::Window, palette().color(QPalette::Base));
    card->setPalette(cardPalette);
    card->setFrameShape(QFrame::StyledPanel);
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(16, 12, 16, 14);
    cardLayout->addWidget(plain(QString::fromUtf8(title), card, 13));
    auto* value = plain(QStringLiteral("-"), card, 26, true);
    auto* detail = plain(QString(), card, 12);
    cardLayout->addWidget(value);
    cardLayout->addWidget(detail);
    metricValues_.push_back(value);
    metricDetails_.push_back(detail);
    cards->addWidget(card, 1);
  }
  layout->addLayout(cards);
  chart_ = new MirlaTrendChartView(page);
  layout->addWidget(chart_, 1);
  return page;
}

QWidget* MirlaDashboardWindow::buildTextSection(const QString& title, QPlainTextEdit*& view) {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(12);
  layout->addWidget(header(title, page));
  view = readOnlyView(page);
  layout->addWidget(view, 1);
  return page;
}

QWidget* MirlaDashboardWindow::buildDictionary() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(12);
  layout->addWidget(header(QStringLiteral("个人词典"), page));
  auto* row = new QHBoxLayout();
  dictionaryInput_ = new QLineEdit(page);
  dictionaryInput_->setPlaceholderText(QStringLiteral("输入一个专有名词或术语"));
  dictionaryAdd_ = new QPushButton(QStringLiteral("加入词典"), page);
  row->addWidget(dictionaryInput_, 1);
  row->addWidget(dictionaryAdd_);
  layout->addLayout(row);
  dictionaryStatus_ = plain(QString(), page, 12);
  layout->addWidget(dictionaryStatus_);
  dictionary_ = readOnlyView(page);
  layout->addWidget(dictionary_, 1);
  QObject::connect(dictionaryAdd_, &QPushButton::clicked, this, [this] { addDictionaryTermPressed(); });
  QObject::connect(dictionaryInput_, &QLineEdit::returnPressed, this, [this] { addDictionaryTermPressed(); });
  return page;
}

QWidget* MirlaDashboardWindow::buildAccount() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(12);
  layout->addWidget(header(QStringLiteral("账号"), page));
  auto* form = new QFormLayout();
  email_ = new QLineEdit(page);
  email_->setPlaceholderText(QStringLiteral("name@example.com"));
  password_ = new QLineEdit(page);
  password_->setEchoMode(QLineEdit::Password);
  password_->setPlaceholderText(QStringLiteral("至少 8 位"));
  form->addRow(QStringLiteral("邮箱"), email_);
  form->addRow(QStringLiteral("密码"), password_);
  layout->addLayout(form);
  auto* buttons = new QHBoxLayout();
  signIn_ = new QPushButton(QStringLiteral("登录"), page);
  signIn_->setObjectName(QStringLiteral("signin"));
  signUp_ = new QPushButton(QStringLiteral("注册"), page);
  signUp_->setObjectName(QStringLiteral("signup"));
  google_ = new QPushButton(QStringLiteral("使用 Google 继续"), page);
  website_ = new QPushButton(QStringLiteral("打开 Mirla 网站"), page);
  for (QPushButton* button : {signIn_, signUp_, google_, website_}) buttons->addWidget(button);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  const bool configured = services_.account.isConfigured();
  accountStatus_ = plain(qs(configured ? kAccountInitialStatus : kAccountNotConfiguredStatus), page, 12);
  layout->addWidget(accountStatus_);
  layout->addStretch(1);
  for (QPushButton* button : {signIn_, signUp_, google_, website_}) button->setEnabled(configured);
  QObject::connect(signIn_, &QPushButton::clicked, this, [this] { accountActionPressed(false); });
  QObject::connect(signUp_, &QPushButton::clicked, this, [this] { accountActionPressed(true); });
  QObject::connect(google_, &QPushButton::clicked, this, [this] { openGoogleSignIn(); });
  QObject::connect(website_, &QPushButton::clicked, this, [this] { openMirlaWebsite(); });
  return page;
}

QWidget* MirlaDashboardWindow::buildSettings() {
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* page = new QWidget(scroll);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(10);
  layout->addWidget(header(QStringLiteral("设置"), page));
  layout->addWidget(plain(QStringLiteral("下一次说话会用到"), page, 14, true));
  providerSummary_ = plain(QString(), page, 13);
  providerSummary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(providerSummary_);
  desktopNotice_ = plain(QString(), page, 13);
  desktopNotice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  desktopNotice_->setVisible(false);
  layout->addWidget(desktopNotice_);

  layout->addSpacing(8);
  layout->addWidget(plain(QStringLiteral("API 密钥（保存在 ") + QString::fromStdString(services_.config.folder()) +
                              QStringLiteral("，仅本人可读）"),
                          page, 14, true));
  auto* keys = new QGridLayout();
  for (std::size_t i = 0; i < kKeyRows.size(); ++i) {
    auto* input = new QLineEdit(page);
    input->setEchoMode(QLineEdit::Password);
    input->setObjectName(QString::fromUtf8(kKeyRows[i].file.data(), static_cast<qsizetype>(kKeyRows[i].file.size())));
    auto* save = new QPushButton(QStringLiteral("保存"), page);
    auto* status = plain(QString(), page, 12);
    keys->addWidget(plain(QString::fromUtf8(kKeyRows[i].label), page), static_cast<int>(i) * 2, 0);
    keys->addWidget(input, static_cast<int>(i) * 2, 1);
    keys->addWidget(save, static_cast<int>(i) * 2, 2);
    keys->addWidget(status, static_cast<int>(i) * 2 + 1, 1, 1, 2);
    keyInputs_.push_back(input);
    keySaves_.push_back(save);
    keyStatuses_.push_back(status);
    const int index = static_cast<int>(i);
    QObject::connect(save, &QPushButton::clicked, this, [this, index] { saveKey(index); });
    QObject::connect(input, &QLineEdit::returnPressed, this, [this, index] { saveKey(index); });
  }
  keys->setColumnStretch(1, 1);
  layout->addLayout(keys);

  layout->addSpacing(8);
  layout->addWidget(plain(QStringLiteral("开关"), page, 14, true));
  for (const SwitchRow& row : kSwitchRows) {
    auto* box = new QCheckBox(QString::fromUtf8(row.label), page);
    switches_.push_back(box);
    layout->addWidget(box);
    QObject::connect(box, &QCheckBox::toggled, this, [this, file = row.file](bool on) {
      if (!setSwitchFile(services_.config.folder(), file, on)) {
        appLog("switch file not changed name=" + std::string(file));
      }
      refreshSettings();
    });
  }

  auto* startRow = new QHBoxLayout();
  startAtLogin_ = new QCheckBox(QStringLiteral("登录时启动，只进托盘（autostart/sorvane.desktop）"), page);
  startAtLogin_->setToolTip(QString::fromStdString(autostartEntryPath(services_.paths)));
  startAtLoginStatus_ = plain(QString(), page, 12);
  startRow->addWidget(startAtLogin_);
  startRow->addWidget(startAtLoginStatus_, 1);
  layout->addLayout(startRow);
  QObject::connect(startAtLogin_, &QCheckBox::toggled, this, [this](bool on) { startAtLoginToggled(on); });

  layout->addSpacing(8);
  layout->addWidget(plain(QStringLiteral("文件夹"), page, 14, true));
  const std::pair<const char*, std::string> folders[] = {
      {"日志", folderOf(services_.paths.logPath)},
      {"数据", services_.paths.dataFolder},
      {"指标", services_.paths.metricsFolder},
  };
  auto* folderGrid = new QGridLayout();
  int row = 0;
  for (const auto& [label, path] : folders) {
    folderGrid->addWidget(plain(QString::fromUtf8(label), page), row, 0);
    auto* pathLabel = plain(QString::fromStdString(path), page, 12);
    pathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folderGrid->addWidget(pathLabel, row, 1);
    auto* open = new QPushButton(QStringLiteral("打开"), page);
    QObject::connect(open, &QPushButton::clicked, this, [this, path = path] {
      if (services_.openFolder) services_.openFolder(path);
    });
    folderGrid->addWidget(open, row, 2);
    ++row;
  }
  folderGrid->setColumnStretch(1, 1);
  layout->addLayout(folderGrid);
  layout->addStretch(1);
  scroll->setWidget(page);
  return scroll;
}

void MirlaDashboardWindow::showSection(MirlaDashboardSection section) {
  selected_ = section;
  const int index = static_cast<int>(section);
  pages_->setCurrentIndex(index);
  if (auto* button = sidebar_->button(index)) button->setChecked(true);
  if (section == MirlaDashboardSection::settings) refreshSettings();
}

void MirlaDashboardWindow::showWindowAndRefresh() {
  show();
  raise();
  activateWindow();
  refresh();
  if (services_.updateChecker) services_.updateChecker->checkAndNotifyIfNeeded();
  appLog(std::string("dashboard shown visible=") + (isVisible() ? "true" : "false"));
}

void MirlaDashboardWindow::refresh() {
  const MirlaDashboardStats stats = services_.store.dashboardStats();
  metricValues_[0]->setText(QString::fromStdString(formatDurationMs(stats.todayRecordingMs)));
  metricValues_[1]->setText(QString::fromStdString(formatCount(stats.todayChars)));
  metricValues_[2]->setText(QString::fromStdString(formatDurationMs(stats.todaySavedMs)));
  metricDetails_[0]->setText(QStringLiteral("累计 ") + QString::fromStdString(formatDurationMs(stats.totalRecordingMs)) +
                             QStringLiteral(" · ") + QString::number(stats.turnCount) + QStringLiteral(" 次"));
  metricDetails_[1]->setText(QStringLiteral("累计 ") + QString::fromStdString(formatCount(stats.totalChars)) +
                             QStringLiteral(" 字 · 词典 ") + QString::number(stats.dictionaryCount));
  metricDetails_[2]->setText(QStringLiteral("累计 ") + QString::fromStdString(formatDurationMs(stats.estimatedSavedMs)) +
                             QStringLiteral(" · 反馈 ") + QString::number(stats.feedbackCount));
  chart_->setPoints(stats.dailyChars);
  const auto history = services_.store.recentHistory(kShownRecords);
  const auto feedback = services_.store.feedbackEntries(kShownRecords);
  const auto terms = services_.store.dictionaryTerms();
  history_->setPlainText(QString::fromStdString(historySectionText(history, feedback)));
  feedback_->setPlainText(QString::fromStdString(feedbackSectionText(feedback)));
  dictionary_->setPlainText(QString::fromStdString(dictionarySectionText(terms)));
  refreshSettings();
}

void MirlaDashboardWindow::refreshSettings() {
  const ProviderChoice choice = describeProviderChoice(services_.config, services_.providers);
  providerSummary_->setText(QStringLiteral("识别：") + QString::fromStdString(choice.recogniser) + QStringLiteral("\n") +
                            QString::fromStdString(choice.recogniserReason) + QStringLiteral("\n\n整理：") +
                            QString::fromStdString(choice.languageModel) + QStringLiteral("\n") +
                            QString::fromStdString(choice.languageModelReason));
  for (std::size_t i = 0; i < kKeyRows.size(); ++i) {
    const auto key = services_.config.key(kKeyRows[i].file);
    keyInputs_[i]->setPlaceholderText(key ? QString::fromStdString(maskedKey(*key)) : QStringLiteral("粘贴密钥"));
  }
  for (std::size_t i = 0; i < kSwitchRows.size(); ++i) {
    const QSignalBlocker block(switches_[i]);
    switches_[i]->setChecked(services_.config.isEnabled(kSwitchRows[i].file));
  }
  // Read each time: the entry may have been removed or written outside the app.
  const QSignalBlocker block(startAtLogin_);
  startAtLogin_->setChecked(isStartAtLoginEnabled(services_.paths));
  startAtLoginStatus_->clear();
}

void MirlaDashboardWindow::startAtLoginToggled(bool on) {
  const std::string failure = setStartAtLogin(services_.paths, on, startAtLoginProgram());
  // The box goes back to what is on disk, so a failed write never shows as done.
  refreshSettings();
  if (!failure.empty()) startAtLoginStatus_->setText(QStringLiteral("未能更改：") + QString::fromStdString(failure));
}

void MirlaDashboardWindow::saveKey(int index) {
  const auto i = static_cast<std::size_t>(index);
  const std::string pasted = keyInputs_[i]->text().toStdString();
  const KeyWriteResult result = writeKeyFile(services_.config.folder(), kKeyRows[i].file, pasted);
  // The field never keeps the key: after a save only the masked form remains.
  if (result == KeyWriteResult::saved) keyInputs_[i]->clear();
  keyStatuses_[i]->setText(QString::fromStdString(keyWriteStatus(result)));
  refreshSettings();
}

void MirlaDashboardWindow::addDictionaryTermPressed() {
  const std::string term = dictionaryInput_->text().trimmed().toStdString();
  if (term.empty()) {
    dictionaryStatus_->setText(qs(kDictionaryNeedsTermStatus));
    return;
  }
  auto added = services_.store.addDictionaryTerm(term, MirlaDataStore::kManualSource, std::string(kManualTermReason));
  if (!added) {
    dictionaryStatus_->setText(qs(kDictionaryRejectedStatus));
    return;
  }
  dictionaryInput_->clear();
  dictionaryStatus_->setText(QString::fromStdString(dictionaryAddedStatus(added->term)));
  refresh();
}

void MirlaDashboardWindow::accountActionPressed(bool signUp) {
  std::weak_ptr<char> weak = alive_;
  services_.account.submit(signUp ? AccountAction::signUp : AccountAction::signIn, email_->text().toStdString(),
                           password_->text().toStdString(), [this, weak](std::string status) {
                             if (!weak.lock()) return;
                             accountStatus_->setText(QString::fromStdString(status));
                           });
}

void MirlaDashboardWindow::openGoogleSignIn() {
  const std::string url = services_.account.googleSignInURL();
  if (!url.empty() && isOpenableDownloadURL(url) && services_.openURL) services_.openURL(url);
}

void MirlaDashboardWindow::openMirlaWebsite() {
  const std::string& url = services_.account.websiteURL();
  if (!url.empty() && isOpenableDownloadURL(url) && services_.openURL) services_.openURL(url);
}

QString MirlaDashboardWindow::metricValueText(int card) const {
  return metricValues_[static_cast<std::size_t>(card)]->text();
}

void MirlaDashboardWindow::setDesktopNotice(const std::optional<std::string>& text) {
  desktopNotice_->setText(text ? QString::fromStdString(*text) : QString());
  desktopNotice_->setVisible(text.has_value());
}

QString MirlaDashboardWindow::sectionText(MirlaDashboardSection section) const {
  switch (section) {
    case MirlaDashboardSection::history:
      return history_->toPlainText();
    case MirlaDashboardSection::dictionary:
      return dictionary_->toPlainText();
    case MirlaDashboardSection::feedback:
      return feedback_->toPlainText();
    case MirlaDashboardSection::account:
      return accountStatus_->text();
    case MirlaDashboardSection::settings:
      return providerSummary_->text();
    case MirlaDashboardSection::overview:
      break;
  }
  return metricValues_[0]->text();
}

}  // namespace sorvane
