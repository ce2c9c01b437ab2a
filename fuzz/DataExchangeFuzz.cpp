// Feeds arbitrary text to the dialog data exchange of an int and a float
// field, as OK would: no undefined behaviour on any text, and a float that is
// accepted reads back bit for bit from its shown form.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/framework/Dialog.h"
#include "host/framework/RecordingDriver.h"

namespace {

class Fields : public CWnd {
 public:
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, 1, number);
    DDV_MinMaxInt(pDX, number, 0, 5000);
    DDX_Text(pDX, 2, frame);
    DDV_MinMaxInt(pDX, static_cast<int>(frame), 0, 100000);
  }
  int number = 0;
  float frame = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tq::framework::RecordingDriver quiet;
  static tq::framework::ScopedUiDriver use(&quiet);
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string cut = text.substr(0, text.find('\0'));
  HWND parent = tq::framework::CreateWindowRecord("#32770", "", 0, 0, nullptr, &DefWindowProcA);
  HWND a = tq::framework::CreateWindowRecord("Edit", "", 0, 1, parent, nullptr);
  HWND b = tq::framework::CreateWindowRecord("Edit", "", 0, 2, parent, nullptr);
  SetWindowTextA(a, cut.c_str());
  SetWindowTextA(b, cut.c_str());
  Fields fields;
  fields.m_hWnd = parent;
  fields.UpdateData(TRUE);
  fields.m_hWnd = nullptr;
  tq::framework::DestroyWindowRecord(parent);
  quiet.messages.clear();
  if (const auto f = tq::framework::ParseFloat(cut)) {
    const auto back = tq::framework::ParseFloat(tq::framework::FormatFloat(*f));
    if (!back || std::bit_cast<std::uint32_t>(*back) != std::bit_cast<std::uint32_t>(*f))
      __builtin_trap();
  }
  return 0;
}
