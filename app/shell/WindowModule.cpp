#include "app/shell/WindowModule.h"

namespace parcelix {

TWindowModule::TWindowModule(const std::string& programPath) : module_(programPath, kWindowModuleName) {
  if (!module_.Loaded()) return;
  const auto* abi = static_cast<const int*>(module_.Symbol(kWindowAbiSymbol));
  if (!abi || *abi != kWindowAbi) {
    module_.Refuse(module_.Path() + " belongs to another version of the program");
    return;
  }
  run_ = reinterpret_cast<WindowRunFn>(module_.Symbol(kWindowRunSymbol));
  message_ = reinterpret_cast<WindowMessageFn>(module_.Symbol(kWindowMessageSymbol));
  if (!Loaded()) module_.Refuse(module_.Path() + " lacks its entry points");
}

bool TWindowModule::ShowMessage(const UserMessage& m) const {
  return Loaded() && message_(m.title.c_str(), m.text.c_str(), static_cast<int>(m.icon)) != 0;
}

}  // namespace parcelix
