#pragma once
// The share destination's scripting dictionary: the names and codes an editor uses to
// make assets, open their files and read their properties over the bus.
#include "platform/scripting/FourCharCode.h"

namespace sam {

using platform::scripting::fourCC;
using platform::scripting::FourCharCode;

inline constexpr const char* kBusName = "com.oxburyworks.QuorvFCPXExporter";
inline constexpr const char* kObjectPath = "/com/oxburyworks/QuorvFCPXExporter";
inline constexpr const char* kInterface = "com.oxburyworks.QuorvFCPXExporter.Scripting";
inline constexpr const char* kIntrospectionFile = "com.oxburyworks.QuorvFCPXExporter.xml";

// Classes.
inline constexpr FourCharCode kApplicationClass = fourCC("capp");
inline constexpr FourCharCode kDocumentClass = fourCC("docu");
inline constexpr FourCharCode kAssetClass = fourCC("Asst");

// Element keys of the containers.
inline constexpr const char* kDocumentsKey = "documents";
inline constexpr const char* kAssetsKey = "assets";

// Parameters of the make command: the class to make and its properties.
inline constexpr FourCharCode kObjectClassKeyword = fourCC("kocl");
inline constexpr FourCharCode kPropertiesKeyword = fourCC("prdt");

// Properties.
inline constexpr FourCharCode kNameProperty = fourCC("pnam");
inline constexpr FourCharCode kUniqueIDProperty = fourCC("ID  ");
inline constexpr FourCharCode kVersionProperty = fourCC("vers");
inline constexpr FourCharCode kMetadataProperty = fourCC("Mtdt");
inline constexpr FourCharCode kDataOptionsProperty = fourCC("DtOp");
inline constexpr FourCharCode kLocationProperty = fourCC("Loca");
inline constexpr FourCharCode kMediaFileProperty = fourCC("MdFl");
inline constexpr FourCharCode kDescFileProperty = fourCC("DsFl");
inline constexpr FourCharCode kDurationProperty = fourCC("Durn");
inline constexpr FourCharCode kFrameDurationProperty = fourCC("FrDr");
// A document's assets: a list of their specifiers.
inline constexpr FourCharCode kAssetsProperty = fourCC("Asts");

// Object specifiers: an 'obj ' record.
inline constexpr FourCharCode kSpecifierContainer = fourCC("from");
inline constexpr FourCharCode kSpecifierClass = fourCC("want");
inline constexpr FourCharCode kSpecifierForm = fourCC("form");
inline constexpr FourCharCode kSpecifierData = fourCC("seld");
inline constexpr FourCharCode kSpecifierKey = fourCC("key ");
inline constexpr FourCharCode kFormUniqueID = fourCC("ID  ");
inline constexpr FourCharCode kFormProperty = fourCC("prop");
inline constexpr FourCharCode kPropertyClass = fourCC("prop");

}  // namespace sam
