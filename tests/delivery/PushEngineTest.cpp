// The push engine on a real site: which routes run, what each attempt
// leaves behind (history, publication errors, document status), the
// error-box look-ups and the re-push.
#include "delivery/PushDocUtils.h"

#include <gtest/gtest.h>

#include "delivery/Rules.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Error.h"
#include "tests/delivery/PushFixture.h"

namespace quillon {
namespace {

class PushEngineTest : public test::PushSite {
 protected:
  PushDocUtils push;
};

TEST_F(PushEngineTest, AutoPushWritesTheDocumentAndRecordsTheAttempt) {
  const std::string out = folder("out/delta");
  const std::int32_t method = addSendMethod(kDelta, folderMethod(out));
  const std::int32_t doc = storeOrder();
  push.PushDocumentToReceivers(doc, "ORDER");
  EXPECT_EQ(read(out + "/" + std::to_string(doc) + ".xml"),
            "<ORDER><NUMBER>4711</NUMBER><AMOUNT>1500</AMOUNT></ORDER>");
  EXPECT_EQ(history(doc), std::to_string(method) + ":200:-1:1");
  EXPECT_EQ(errorCount(doc), "0");
  EXPECT_EQ(scalar("SELECT STATUS FROM DOCUMENT WHERE DOCUMENTID = " + std::to_string(doc)),
            std::to_string(value(DOCUMENTSTATUS::DOCUMENTSENT)));
}

}  // namespace
}  // namespace quillon
