#include "engine/VelUpdateDoc.h"

#include "families/DeviceTypes.h"

namespace vel {

CVelUpdateDoc::CVelUpdateDoc(StatusDisplay& display, Operator& op)
    : display_(display), operator_(op) {
  link_.SetCancelFlag(&display_.State().cancel);
}

CVelUpdateDoc::~CVelUpdateDoc() {
  link_.Serial().Close();
  link_.Tcp().Shutdown();
}

LoadResult CVelUpdateDoc::OnOpenDocument(const std::string& path) {
  identity_.Reset();
  context_.device = nullptr;
  context_.identified = false;
  identifier_.ForgetLeftOutUnits();
  LoadResult result;
  if (sharedLoads_) {
    std::shared_ptr<const LoadedFirmware> loaded;
    result = sharedLoads_->Load(path, &display_, &loaded);
    if (loaded) file_.Adopt(std::move(loaded));
  } else {
    result = HexFileLoader(file_, &display_).LoadPath(path);
  }
  if (result.ok()) path_ = path;
  return result;
}

std::vector<int> CVelUpdateDoc::ImagesNotSent() const {
  std::vector<int> images;
  for (int k = 0; k < file_.ImageCount(); ++k) {
    if ((context_.imagesSent & (1u << k)) == 0) images.push_back(k);
  }
  return images;
}

LinkOpen CVelUpdateDoc::OpenSerialPort(const SerialSettings& settings,
                                       const std::string& portName) {
  const LinkOpen result = link_.Serial().Open(settings, portName);
  if (result != LinkOpen::kOk) {
    // The reason names the device path; the port's own name goes in front when it differs.
    const std::string& reason = link_.Serial().LastReason();
    const bool named = reason.rfind(portName + ":", 0) == 0;
    display_.AppendMessage("Serial port " + (named ? reason : portName + ": " + reason));
  } else if (!link_.Serial().LastNote().empty()) {
    display_.AppendMessage(link_.Serial().LastNote());
  }
  return result;
}

}  // namespace vel
