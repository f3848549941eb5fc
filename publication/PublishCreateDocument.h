// PublishCreateDocument: puts documents into the system for a publisher.
//
// The object keeps one value: the publisher's language ID, in which the
// texts of attachment errors are written (0 until set, read as 1033).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

class PublishCreateDocument : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // Copies the files of a collection of paths into the document's
  // attachment folder and records one ATTACHMENT row per copied file. A
  // path given twice (letters compared without case) is copied once; a
  // file that cannot be copied becomes a publication error of the document
  // and the others are still copied. Empty, Nothing or an empty collection
  // does nothing. A Variant array of paths is taken as well.
  void CopyAttachmentCollection(std::int32_t i_lDocID, const Variant& i_oAttachments);

  // A non-empty numeric text sets the language, anything else sets 1033.
  void SetPublisherLanguageID(const std::string& i_sLanguageID);
  std::int32_t GetPublisherLanguageID() const { return languageID_; }

 private:
  std::int32_t languageID_ = 0;
};

}  // namespace quillon
