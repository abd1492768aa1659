#pragma once
#include <QByteArrayView>

#include <string>
#include <utility>
#include <vector>

namespace zafrel {

// The open multipart uploads (key, uploadId) that an unusable queue file still names: those whose
// key and upload id were read whole before whatever spoilt it (a write cut short, bytes overwritten). Nothing could continue
// them once the file is set aside, so they are for aborting at the service.
std::vector<std::pair<std::string, std::string>> openUploadsNamedIn(QByteArrayView unusableQueue);

}  // namespace zafrel
