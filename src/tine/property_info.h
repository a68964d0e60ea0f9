// Size and format of a server's property: local knowledge or a "PROPS" query.
#pragma once

// 0 with *apiFormat and *apiSize set; otherwise the query's completion code,
// *apiSize 0 and *apiFormat untouched. asText (16 bytes, may be null)
// receives up to 16 characters, terminated only when shorter.
int _internal_tineReadPropertyCharacteristics(const char* asBeautifiedTineAddress,
                                              const char* asTinePropertyName, int* apiFormat,
                                              int* apiSize, char* asText);
