// The property table of the Ordex connector: one row per property with its token, definition
// row, how it is kept and its follow-up, and the identity the connector states.
#ifndef TW_LINK_ORDEX_PROPERTIES_H_
#define TW_LINK_ORDEX_PROPERTIES_H_

#include <cstdint>
#include <string>

#include "twx.h"
#include "twx_plugin.h"
#include "twx_props.h"

namespace ordex {

// Own tokens, in table order.
enum Token : uint32_t {
  kPort = 1,
  kEnforceForm,
  kMultiValueAsText,
  kBulkStore,
  kFilePath,
  kUpdateViews,
  kCreateDatabase,
  kTemplateServer,
  kTemplateDatabase,
  kView,
  kAgent,
  kFullTextQuery,
  kTextMaxLength,
  kFetchViewData,
  kAllForms,
  kViewResponses,
  kLoadUnid,
  kLoadNoteid,
  kLoadRef,
  kLoadFile,
  kCopyHierarchy,
  kCopyFile,
  kExecuteDelete,
  kInsertMail,
  kMailEmbedForm,
};

// The longest text or list item value, and the default of TextMaxLength.
constexpr uint32_t kMaxItem = 64996;
// Room of FilePath with its trailing "/" and a NUL.
constexpr int32_t kPathRoom = 256;

struct Props {
  std::string server, database, metadata, index, condition, stampField;
  TWStream fieldList{}, orderList{};
  TWDatetime baseStamp{}, maxStamp{};
  int32_t mapName = 0, writeBack = 0;
  std::string port, filePath, templateServer, templateDatabase, view, agent, fullText;
  int32_t enforceForm = 0, multiValueAsText = 0, bulkStore = 0, updateViews = 0,
          createDatabase = 0, fetchViewData = 0, allForms = 0, viewResponses = 0, loadUnid = 0,
          loadNoteid = 0, loadRef = 0, loadFile = 0, copyHierarchy = 0, copyFile = 0,
          executeDelete = 0, insertMail = 0, mailEmbedForm = 0;
  int32_t textMaxLength = 0;
};

class Connection;
using Row = tw::twx::Property<Props, Connection>;

// The follow-ups of a set (connection.cc).
uint32_t MetadataSet(Connection& c, bool assigned);
uint32_t EnforceFormSet(Connection& c, bool assigned);
uint32_t FilePathSet(Connection& c, bool assigned);
uint32_t ViewSet(Connection& c, bool assigned);
uint32_t AgentSet(Connection& c, bool assigned);
uint32_t TextMaxLengthSet(Connection& c, bool assigned);

using tw::twx::FlagProperty;
using tw::twx::IntProperty;
using tw::twx::StringProperty;

// Predefined rows first, then the own ones in token order. USERID and PASSWORD are not
// offered; TEXT_FORMAT is read only (the Plexa character set).
inline constexpr Row kProperties[] = {
    StringProperty(TWTOKEN_SERVER, &Props::server),
    StringProperty(TWTOKEN_DATABASE, &Props::database),
    StringProperty(TWTOKEN_METADATA, &Props::metadata).OnSet(&MetadataSet),
    StringProperty(TWTOKEN_INDEX, &Props::index),
    FlagProperty(TWTOKEN_MAP_NAME, &Props::mapName),
    FlagProperty(TWTOKEN_WRITEBACK, &Props::writeBack),
    tw::twx::ListProperty(TWTOKEN_FIELD_LIST, &Props::fieldList),
    tw::twx::ListProperty(TWTOKEN_ORDER_LIST, &Props::orderList),
    StringProperty(TWTOKEN_CONDITION, &Props::condition),
    StringProperty(TWTOKEN_STAMPFIELD, &Props::stampField),
    tw::twx::DatetimeProperty(TWTOKEN_BASESTAMP, &Props::baseStamp),
    tw::twx::DatetimeProperty(TWTOKEN_MAXSTAMP, &Props::maxStamp),
    tw::twx::ConstantProperty<Props>(TWTOKEN_TEXT_FORMAT, TWSTREAMFMT_QMBCS),
    StringProperty(kPort, &Props::port, "Port"),
    FlagProperty(kEnforceForm, &Props::enforceForm, "EnforceForm").OnSet(&EnforceFormSet),
    FlagProperty(kMultiValueAsText, &Props::multiValueAsText, "MultiValueAsText"),
    FlagProperty(kBulkStore, &Props::bulkStore, "BulkStore"),
    StringProperty(kFilePath, &Props::filePath, "FilePath").Limits(0, kPathRoom - 1).OnSet(&FilePathSet),
    FlagProperty(kUpdateViews, &Props::updateViews, "UpdateViews"),
    FlagProperty(kCreateDatabase, &Props::createDatabase, "CreateDatabase"),
    StringProperty(kTemplateServer, &Props::templateServer, "TemplateServer"),
    StringProperty(kTemplateDatabase, &Props::templateDatabase, "TemplateDatabase"),
    StringProperty(kView, &Props::view, "View").OnSet(&ViewSet),
    StringProperty(kAgent, &Props::agent, "Agent").OnSet(&AgentSet),
    StringProperty(kFullTextQuery, &Props::fullText, "FullTextQuery"),
    IntProperty(kTextMaxLength, &Props::textMaxLength, "TextMaxLength").OnSet(&TextMaxLengthSet),
    FlagProperty(kFetchViewData, &Props::fetchViewData, "FetchViewData"),
    FlagProperty(kAllForms, &Props::allForms, "AllForms"),
    FlagProperty(kViewResponses, &Props::viewResponses, "ViewResponses"),
    FlagProperty(kLoadUnid, &Props::loadUnid, "LoadUnid"),
    FlagProperty(kLoadNoteid, &Props::loadNoteid, "LoadNoteid"),
    FlagProperty(kLoadRef, &Props::loadRef, "LoadRef"),
    FlagProperty(kLoadFile, &Props::loadFile, "LoadFile"),
    FlagProperty(kCopyHierarchy, &Props::copyHierarchy, "CopyHierarchy"),
    FlagProperty(kCopyFile, &Props::copyFile, "CopyFile"),
    FlagProperty(kExecuteDelete, &Props::executeDelete, "ExecuteDelete"),
    FlagProperty(kInsertMail, &Props::insertMail, "InsertMail"),
    FlagProperty(kMailEmbedForm, &Props::mailEmbedForm, "MailEmbedForm"),
};

inline constexpr auto kDefinitionRows = tw::twx::DefinitionRows<kProperties>();

inline constexpr tw::twx::ConnectorTraits kTraits = {.properties = kDefinitionRows.data(),
                                                     .textFormat = TWSTREAMFMT_QMBCS};

}  // namespace ordex

#endif  // TW_LINK_ORDEX_PROPERTIES_H_
