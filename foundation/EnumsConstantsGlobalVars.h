// The public enumerations and error numbers of the component.
//
// All values are 32-bit signed integers on the automation interface and in
// the database. Names that two enumerations share (GREATERTHAN, ASCII, AsIs,
// WithTimeStamp) are scoped by their enumeration; value() turns any of them
// into the plain integer callers pass.
#pragma once

#include <cstdint>
#include <type_traits>

#include "platform/Object.h"

namespace quillon {

// The component's error numbers: the automation error base plus 501 … 554.
inline constexpr std::int32_t kErrorBase = -2147221504;  // 0x80040000

enum EnumerationErrors : std::int32_t {
  ReferentialAdd = kErrorBase + 501,
  ReferentialInsert = kErrorBase + 502,
  ReferentialDelete = kErrorBase + 503,
  MissingBusinessPartnerID = kErrorBase + 504,
  MissingUserID = kErrorBase + 505,
  MissingDocumentTypeID = kErrorBase + 506,
  ErrorFunctionUserExist = kErrorBase + 507,
  ErrorFunctionDocTypeExist = kErrorBase + 508,
  MissingXMLFileString = kErrorBase + 509,
  MissingParameter = kErrorBase + 510,
  TagNotPresentError = kErrorBase + 511,
  TagIsEmptyError = kErrorBase + 512,
  MissingEmailSenderError = kErrorBase + 513,
  MissingEmailReceiverError = kErrorBase + 514,
  MissingXMLFile = kErrorBase + 515,
  PushByHTTPError = kErrorBase + 516,
  PushByFTPError = kErrorBase + 517,
  HTMLXSLFileError = kErrorBase + 518,
  XSLParseError = kErrorBase + 519,
  XMLLoadError = kErrorBase + 520,
  DocumentIDNotInDatabase = kErrorBase + 521,
  InvalidXSLPatternError = kErrorBase + 522,
  PushDocumentError = kErrorBase + 523,
  ProcessDocumentError = kErrorBase + 524,
  PublishDocumentError = kErrorBase + 525,
  NotAnExcelFile = kErrorBase + 526,
  InvalidObiObject = kErrorBase + 527,
  InvalidObiLanguage = kErrorBase + 528,
  InvalidObiVersion = kErrorBase + 529,
  MissingInput = kErrorBase + 530,
  AttachmentsSupported = kErrorBase + 531,
  CannotLoadFile = kErrorBase + 532,
  NewerVersionAvailable = kErrorBase + 533,
  SendMethodProtocolNotSupported = kErrorBase + 534,
  SendMethodFormatNotSupported = kErrorBase + 535,
  WrongIOMode = kErrorBase + 536,
  AlreadyPresent = kErrorBase + 537,
  NotPresent = kErrorBase + 538,
  EmailImportError = kErrorBase + 539,
  CDOProcessMessagesError = kErrorBase + 540,
  CDOProcessMessageError = kErrorBase + 541,
  CDOProcessAttachmentsError = kErrorBase + 542,
  CDOProcessAttachmentError = kErrorBase + 543,
  MissingFileLocation = kErrorBase + 544,
  InValidDataTypeForExcel = kErrorBase + 545,
  ExcelNotInstalled = kErrorBase + 546,
  InValidExcelAddress = kErrorBase + 547,
  InsertExcelError = kErrorBase + 548,
  InValidFileFormat = kErrorBase + 549,
  ExcelOpeningsError = kErrorBase + 550,
  InvalidParamValue = kErrorBase + 551,
  CannotExecuteSendMethod = kErrorBase + 552,
  DefaultTemplateNotFound = kErrorBase + 553,
  FileError = kErrorBase + 554,
};

enum class SENDERMODE : std::int32_t { SENDERMODE = 0, RECEIVERMODE = 1, ERRORMODE = 2, UPLOADMODE = 3, CHANGEDOCTYPEMODE = 4 };

enum class PUBLICATIONSTATUS : std::int32_t {
  PUBLICATIONUNKNOWNSTATUS = -1,
  PUBLICATIONNEW = 0,
  PUBLICATIONACC = 1,
  PUBLICATIONNEWDEL = 2,
  PUBLICATIONACCDEL = 3,
  PUBLICATIONREJECTED = 4,
  PUBLICATIONVIEWED = 5,
  PUBLICATIONDOWNLOADED = 6,
  PUBLICATIONREJECTEDDEL = 7,
  PUBLICATIONVIEWEDDEL = 8,
  PUBLICATIONDOWNLOADEDDEL = 9,
};

enum class DOCUMENTSTATUS : std::int32_t {
  DOCUMENTUNKNOWNSTATUS = -1,
  DOCUMENTNEW = 0,
  DOCUMENTPUBLISHED = 1,
  DOCUMENTACCEPTED = 2,
  DOCUMENTPARTIALLYACCEPTED = 3,
  DOCUMENTDELETED = 4,
  DOCUMENTSENT = 5,
};

enum class RuleType : std::int32_t { SENDMETHODRULE = 1, DOCUMENTTYPERULE = 2, SENDERIDRULE = 3, RECIPIENTIDRULE = 4 };
enum class FieldType : std::int32_t { STRINGFIELD = 1, NUMERICFIELD = 2, DATEFIELD = 3 };
enum class Condition : std::int32_t {
  ISEXACTLY = 1,
  GREATERTHAN = 2,
  GREATEREQUAL = 3,
  LOWERTHAN = 4,
  LOWEREQUAL = 5,
  ISNOT = 6,
  PARTOF = 7,
  NOTPARTOF = 8,
  CONTAINS = 9,
  NOTCONTAINS = 10,
};
enum class RuleLogic : std::int32_t { ANDRULE = 1, ORRULE = 2 };
enum class TagAttrXsl : std::int32_t { TAGVALUE = 1, ATTRVALUE = 2, XSLPATTERN = 3, FIXEDTEXT = 4 };
enum class SENDMETHODSTATUS : std::int32_t { NOTSENT = 0, SENT = 1 };
enum class ESendMethodFormat : std::int32_t { Excel = 10, OBI = 20, XML = 30 };
enum class ESendMethodProtocol : std::int32_t {
  Email = 10,
  Fax = 20,
  FilePath = 30,
  Ftp = 40,
  Http = 50,
  MethodCall = 60,
  ManualDownload = 70,
  EDI = 80,
};
enum class EWriteMode : std::int32_t { Append = 10, Create = 20, Update = 30 };
enum class ESendMethodSuffix : std::int32_t { DocumentID = 10, None = 20 };
enum class ESendMethodFileFormat : std::int32_t { ASCII = 10, Unicode = 20 };
enum class ESendMethodFTPTransferType : std::int32_t { ASCII = 10, Binary = 20 };
enum class EMsoDocProperties : std::int32_t {
  EMsoPropertyTypeNumber = 1,
  EMsoPropertyTypeBoolean = 2,
  EMsoPropertyTypeDate = 3,
  EMsoPropertyTypeString = 4,
  EMsoPropertyTypeFloat = 5,
};
enum class EExcelSearchOptions : std::int32_t { GREATERTHAN = 1, LessThan = 2, Equals = 3 };
enum class EExcelIndexMode : std::int32_t { Sequence = 1, Scattered = 2 };
enum class EObiLanguage : std::int32_t { X12 = 1, Edifact = 2, XML = 3 };
enum class EFileIOMode : std::int32_t { Reading = 1, Writing = 2, Appending = 3 };
enum class EFileType : std::int32_t { AsIs = 1, TempFile = 2, WithTimeStamp = 3, Backup = 4 };
enum class EFolderType : std::int32_t {
  AsIs = 1,
  UploadFolder = 2,
  ErrorFolder = 3,
  XmlPath1Folder = 4,
  XmlPath2Folder = 5,
  XmlErrorFolder = 6,
  ObiFolder = 7,
  WindowsFolder = 8,
  TempFolder = 9,
  SystemFolder = 10,
  WithTimeStamp = 11,
  AttachmentsVirtualFolder = 12,
  ExcelTempFolder = 13,
};

// The plain integer of an enumeration value.
template <class E, class = std::enable_if_t<std::is_enum_v<E>>>
constexpr std::int32_t value(E e) {
  return static_cast<std::int32_t>(e);
}

// Publishes the enumerations on the automation interface; it has no methods.
class EnumsConstantsGlobalVars : public Object {
 public:
  const ClassInfo* classInfo() const override;
};

}  // namespace quillon
