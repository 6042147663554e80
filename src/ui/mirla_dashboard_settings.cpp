// The dashboard's settings page: the recogniser and language-model summary, the key
// fields, the switch files, the tap key, start at login, what the accessibility switch at
// start does, and the folders.
#include "ui/mirla_dashboard_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <string_view>

#include "core/log.h"
#include "input/tap_key.h"
#include "ui/autostart_entry.h"
#include "ui/renderer_accessibility_launchers.h"
#include "ui/key_file_store.h"
#include "ui/mirla_dashboard_widgets.h"
#include "ui/provider_summary.h"

namespace sorvane {

using dashboard::header;
using dashboard::plain;

namespace {

// A file in the configuration folder and the label of its row: a key file or a switch.
struct FileRow {
  std::string_view file;
  const char* label;
};
constexpr std::array<FileRow, 3> kKeyRows{{
    {kDashScopeKeyFile, "DashScope（Qwen 识别与整理）"},
    {kDeepSeekKeyFile, "DeepSeek（整理）"},
    {kDeepgramKeyFile, "Deepgram（备用识别）"},
}};

constexpr std::array<FileRow, 3> kSwitchRows{{
    {kVoiceProcessingSwitch, "录音降噪与增益（enable-voice-processing-io）"},
    {kFfmpegSpeechNormSwitch, "ffmpeg 语音规整（enable-ffmpeg-speechnorm）"},
    {kQwenCorpusHintSwitch, "把词典作为 Qwen 识别提示（enable-qwen-corpus-hint）"},
}};

// The labels of the tap-key choices, in the order of `kTapKeys`.
constexpr std::array<const char*, kTapKeys.size()> kTapKeyLabels{
    "任一 Alt 键（默认）",
    "仅右 Alt 键",
    "右 Ctrl 键",
    "Super 键（Windows 徽标键）",
};

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
  for (const FileRow& row : kSwitchRows) {
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

  layout->addSpacing(8);
  layout->addWidget(plain(QStringLiteral("听写按键"), page, 14, true));
  layout->addWidget(plain(QStringLiteral("单独轻按一下开始或结束听写，连按两下英文翻译，三下摩斯密码。"
                                         "很多程序在单独按 Alt 时会把焦点移到菜单栏，这时可改用右 Alt、右 Ctrl 或 Super。"
                                         "风格面板总在左 Ctrl：单独按住 0.4 秒出现，再按数字 1–8 选风格；"
                                         "Ctrl+C、Ctrl+2 等快捷键不受影响。"),
                          page, 12));
  auto* tapRow = new QHBoxLayout();
  tapKey_ = new QComboBox(page);
  for (const char* label : kTapKeyLabels) tapKey_->addItem(QString::fromUtf8(label));
  tapKey_->setToolTip(QString::fromStdString(services_.config.folder() + "/" + std::string(kTapKeyFile)));
  tapKeyStatus_ = plain(services_.applyTapKey ? QStringLiteral("更改立即生效") : QStringLiteral("更改在下次启动后生效"),
                        page, 12);
  tapRow->addWidget(tapKey_);
  tapRow->addWidget(tapKeyStatus_, 1);
  layout->addLayout(tapRow);
  QObject::connect(tapKey_, &QComboBox::currentIndexChanged, this, [this](int index) { tapKeyChosen(index); });

  auto* startRow = new QHBoxLayout();
  startAtLogin_ = new QCheckBox(QStringLiteral("登录时启动，只进托盘（autostart/sorvane.desktop）"), page);
  startAtLogin_->setToolTip(QString::fromStdString(autostartEntryPath(services_.paths)));
  startAtLoginStatus_ = plain(QString(), page, 12);
  startRow->addWidget(startAtLogin_);
  startRow->addWidget(startAtLoginStatus_, 1);
  layout->addLayout(startRow);
  QObject::connect(startAtLogin_, &QCheckBox::toggled, this, [this](bool on) { startAtLoginToggled(on); });

  // What the start sequence's accessibility step does (docs/desktop_start.md).
  layout->addSpacing(8);
  layout->addWidget(plain(QStringLiteral("辅助功能"), page, 14, true));
  auto* accessibility = plain(
      QStringLiteral("Sorvane 启动时会打开桌面的辅助功能（AT-SPI 总线的 IsEnabled），这样各应用会把文本框等界面元素"
                     "提供给 Sorvane，用来读取上下文并把文字粘贴到正确的位置。已经在运行的 Qt 应用需要重启后才会生效；"
                     "Chromium 和 Electron 应用需要带 --force-renderer-accessibility 参数启动，下面的选项可以替你改好它们的启动项。要关闭辅助功能，可运行 "
                     "gsettings set org.gnome.desktop.interface toolkit-accessibility false，或把 IsEnabled 设为 false；Sorvane 下次启动时会再次打开它。"),
      page, 12);
  accessibility->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(accessibility);
  auto* rendererRow = new QHBoxLayout();
  rendererAccessibility_ = new QCheckBox(
      QString::fromUtf8(kRendererAccessibilityChoice.data(), static_cast<int>(kRendererAccessibilityChoice.size())) +
          QStringLiteral("（在 applications 文件夹写入带该参数的启动项，重新打开应用后生效）"),
      page);
  rendererAccessibility_->setToolTip(QString::fromStdString(services_.paths.applicationsFolder));
  rendererAccessibilityStatus_ = plain(QString(), page, 12);
  rendererRow->addWidget(rendererAccessibility_);
  rendererRow->addWidget(rendererAccessibilityStatus_, 1);
  layout->addLayout(rendererRow);
  QObject::connect(rendererAccessibility_, &QCheckBox::toggled, this,
                   [this](bool on) { rendererAccessibilityToggled(on); });

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
  {
    // The file's word as the next start will read it; an unknown word there means the default.
    const auto word = services_.config.key(kTapKeyFile);
    const TapKey key = (word ? tapKeyFromWord(*word) : std::nullopt).value_or(kDefaultTapKey);
    const QSignalBlocker blockTapKey(tapKey_);
    for (std::size_t i = 0; i < kTapKeys.size(); ++i) {
      if (kTapKeys[i] == key) tapKey_->setCurrentIndex(static_cast<int>(i));
    }
  }
  // Read each time: the entry may have been removed or written outside the app.
  const QSignalBlocker block(startAtLogin_);
  startAtLogin_->setChecked(isStartAtLoginEnabled(services_.paths));
  startAtLoginStatus_->clear();
  const auto launchers = rendererAccessibilityLaunchers(services_.paths);
  const QSignalBlocker blockRenderer(rendererAccessibility_);
  rendererAccessibility_->setEnabled(!launchers.empty());
  rendererAccessibility_->setChecked(!launchers.empty() && std::all_of(launchers.begin(), launchers.end(),
                                                                       [](const auto& l) { return l.exposed; }));
  QStringList names;
  for (const auto& launcher : launchers) names << QString::fromStdString(launcher.name);
  rendererAccessibilityStatus_->setText(launchers.empty() ? QStringLiteral("没有找到 Chromium 或 Electron 应用的启动项")
                                                          : names.join(QStringLiteral("、")));
}

void MirlaDashboardWindow::rendererAccessibilityToggled(bool on) {
  const std::string failure = setRendererAccessibility(services_.paths, on);
  refreshSettings();
  if (!failure.empty())
    rendererAccessibilityStatus_->setText(QStringLiteral("未能更改：") + QString::fromStdString(failure));
}

void MirlaDashboardWindow::startAtLoginToggled(bool on) {
  const std::string failure = setStartAtLogin(services_.paths, on, startAtLoginProgram());
  // The box goes back to what is on disk, so a failed write never shows as done.
  refreshSettings();
  if (!failure.empty()) startAtLoginStatus_->setText(QStringLiteral("未能更改：") + QString::fromStdString(failure));
}

void MirlaDashboardWindow::tapKeyChosen(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= kTapKeys.size()) return;
  const TapKey key = kTapKeys[static_cast<std::size_t>(index)];
  const std::string failure = writeSettingFile(services_.config.folder(), kTapKeyFile, tapKeyWord(key));
  if (failure.empty()) {
    appLog("tap key chosen key=" + std::string(tapKeyWord(key)));
    if (services_.applyTapKey) {
      services_.applyTapKey(key);
      tapKeyStatus_->setText(QStringLiteral("已保存，已生效"));
    } else {
      tapKeyStatus_->setText(QStringLiteral("已保存，下次启动后生效"));
    }
  } else {
    appLog("tap key not changed key=" + std::string(tapKeyWord(key)));
    tapKeyStatus_->setText(QStringLiteral("未能更改：") + QString::fromStdString(failure));
  }
  // The box goes back to what is on disk, so a failed write never shows as done.
  refreshSettings();
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

void MirlaDashboardWindow::setDesktopNotice(const std::optional<std::string>& text) {
  desktopNotice_->setText(text ? QString::fromStdString(*text) : QString());
  desktopNotice_->setVisible(text.has_value());
}

}  // namespace sorvane
