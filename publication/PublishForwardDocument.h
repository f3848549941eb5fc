// PublishForwardDocument: a portal user forwards a stored document: a new
// document is made from the source's XML body, under the same or another
// document type, with the source's attachments, and the user's copy of the
// source is marked as forwarded.
//
// Every public method re-raises its failures through ReRaiseError with the
// source "Quillon.PublishForwardDocument.<Method>".
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

class PublishForwardDocument : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // Retired: logs that Main2 replaces it and returns -1.
  std::int32_t Main(std::int32_t iDocID, const std::string& iUser, const std::string& iAttPath);
  // Forwards document iDocID as iUser to a new document of type
  // iNewDocTypeID (the intake runs as for a portal user, converting from
  // the source's type) and returns the new id. The source's attachment rows
  // and the folder iAttPath\<source id> are copied to the new document; a
  // failure there, or in setting the forward flag, becomes a publication
  // error of the new document and does not stop the forwarding. An OBI
  // document cannot be forwarded (CannotLoadFile).
  std::int32_t Main2(std::int32_t iDocID, const std::string& iNewDocTypeID, const std::string& iUser,
                     const std::string& iAttPath);
  // Whether a conversion to another type is configured for the document's type.
  bool TransformExist(std::int32_t iDocID);
  void RemoveAllRecipientsForDocument(std::int32_t iDocID);
};

}  // namespace quillon
