#include "form1/Form1.h"

namespace vk {

namespace {

constexpr char16_t kMissingHeadline[] =
    u"Vorlan çalışabilmek için bazı Windows bileşenlerine ihtiyaç duyar. Sisteminizde mevcut "
    u"olmayan bileşenler aşağıya listelendi.";
constexpr char16_t kMissingAdvice[] =
    u"Bu dosyaları sistem klasörüne ekleyebilmesi için , VorlanKur'un 'YÖNETİCİ' yetkisiyle "
    u"başlatılmış olması gerekir. Bunu yapmadıysanız DEVAM tuşuna kliklemeden kurulumdan çıkınız.";
constexpr char16_t kPresentHeadline[] =
    u"Kur sisteminizi taradı, Vorlan'in çalışması için gerekli Windows bileşenleri sisteminizde "
    u"mevcut.";
constexpr char16_t kPresentAdvice[] =
    u"Bir sonraki kurulum aşamasına geçmek için Devam butonunu tıklayın.";

} // namespace

void Form1::click(ControlId button) {
  switch (button) {
  case ctl::Command1:
    if (!runStarted_) Command1_Click();
    break;
  case ctl::Command2:
    Command2_Click();
    break;
  case ctl::Command3:
    Command3_Click();
    break;
  default:
    break; // no other control has a click handler
  }
}

// The component check: which of the seven components the system folder lacks.
void Form1::Form_Load() {
  for (int k = 0; k < 7; ++k)
    setText(ctl::Text1(k), Text(kComponents[k]));

  sisDir = rt_.rtcDir(u"C:\\Windows\\SysWOW64", vbDirectory) != u"" ? u"SysWOW64\\" : u"System32\\";

  for (i = 0; i <= 6; ++i) {
    if (rt_.rtcDir(u"C:\\Windows\\" + sisDir + text(ctl::Text1(i)), vbHidden) != u"")
      setText(ctl::Text1(i), u"");
  }

  Text missing;
  j = 0;
  for (i = 0; i <= 6; ++i) {
    const Text name = text(ctl::Text1(i));
    if (name != u"") {
      missing += u"\r\n" + name;
      ++j;
    }
  }
  // An empty first line, then one missing name per line.
  setText(ctl::Text13, missing.empty() ? Text(u"\r\n") : missing);

  if (j > 0) {
    setText(ctl::Text12, kMissingHeadline);
    setText(ctl::Text14, kMissingAdvice);
  } else {
    setText(ctl::Text12, kPresentHeadline);
    setText(ctl::Text14, kPresentAdvice);
  }
}

void Form1::Command2_Click() {
  rt_.vbaEnd();
}

void Form1::Command3_Click() {
  rt_.vbaEnd();
}

} // namespace vk
