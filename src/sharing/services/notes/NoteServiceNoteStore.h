#pragma once
// Every note-store call as an asynchronous wrapper (see NCAPI): the session's token goes first
// unless a call says otherwise, then the wrapper's arguments in order.
//
// Threads and ownership: as NCAPI.

#include "notes_thrift/NoteStore.h"
#include "sharing/services/notes/NCAPI.h"

namespace zv {

class NoteServiceNoteStore : public NCAPI {
 public:
  using Guid = std::string;
  // A wrapper on the shared session.
  static Ref<NoteServiceNoteStore> noteStore();
  using NCAPI::NCAPI;

  // Results of an integer (usually the update sequence number).
  void updateNotebook(const notes::Notebook& notebook, NCSuccess<std::int32_t> success, NCFailure failure) const;
  void expungeNotebookWithGuid(const Guid& guid, NCSuccess<std::int32_t> success, NCFailure failure) const;
  void updateTag(const notes::Tag& tag, NCSuccess<std::int32_t> success, NCFailure failure) const;
  void expungeTagWithGuid(const Guid& guid, NCSuccess<std::int32_t> success, NCFailure failure) const;
  void updateSearch(const notes::SavedSearch& search, NCSuccess<std::int32_t> success, NCFailure failure) const;
  void expungeSearchWithGuid(const Guid& guid, NCSuccess<std::int32_t> success, NCFailure failure) const;
  void findNoteOffsetWithFilter(const notes::NoteFilter& filter, const Guid& guid, NCSuccess<std::int32_t> success,
                                NCFailure failure) const;
  void setNoteApplicationDataEntryWithGuid(const Guid& guid, const std::string& key, const std::string& value,
                                           NCSuccess<std::int32_t> success, NCFailure failure) const;
  void unsetNoteApplicationDataEntryWithGuid(const Guid& guid, const std::string& key, NCSuccess<std::int32_t> success,
                                             NCFailure failure) const;
  void deleteNoteWithGuid(const Guid& guid, NCSuccess<std::int32_t> success, NCFailure failure) const;
  void expungeNoteWithGuid(const Guid& guid, NCSuccess<std::int32_t> success, NCFailure failure) const;
  void expungeNotesWithGuids(const std::vector<Guid>& guids, NCSuccess<std::int32_t> success, NCFailure failure) const;
  void expungeInactiveNoteWithSuccess(NCSuccess<std::int32_t> success, NCFailure failure) const;
  void setResourceApplicationDataEntryWithGuid(const Guid& guid, const std::string& key, const std::string& value,
                                               NCSuccess<std::int32_t> success, NCFailure failure) const;
  void unsetResourceApplicationDataEntryWithGuid(const Guid& guid, const std::string& key,
                                                 NCSuccess<std::int32_t> success, NCFailure failure) const;
  void updateResource(const notes::Resource& resource, NCSuccess<std::int32_t> success, NCFailure failure) const;
  void sendMessageToSharedNotebookMembersWithGuid(const Guid& guid, const std::string& messageText,
                                                  const std::vector<std::string>& recipients,
                                                  NCSuccess<std::int32_t> success, NCFailure failure) const;
  void expungeSharedNotebooksWithIds(const std::vector<std::int64_t>& ids, NCSuccess<std::int32_t> success,
                                     NCFailure failure) const;
  void updateLinkedNotebook(const notes::LinkedNotebook& linkedNotebook, NCSuccess<std::int32_t> success,
                            NCFailure failure) const;
  void expungeLinkedNotebookWithGuid(const Guid& guid, NCSuccess<std::int32_t> success, NCFailure failure) const;

  // No result.
  void untagAllWithGuid(const Guid& guid, NCVoidSuccess success, NCFailure failure) const;
  void emailNoteWithParameters(const notes::NoteEmailParameters& parameters, NCVoidSuccess success,
                               NCFailure failure) const;
  void stopSharingNoteWithGuid(const Guid& guid, NCVoidSuccess success, NCFailure failure) const;

  // Results of a value.
  void getSyncStateWithSuccess(NCSuccess<notes::SyncState> success, NCFailure failure) const;
  void getSyncChunkAfterUSN(std::int32_t afterUSN, std::int32_t maxEntries, bool fullSyncOnly,
                            NCSuccess<notes::SyncChunk> success, NCFailure failure) const;
  void getFilteredSyncChunkAfterUSN(std::int32_t afterUSN, std::int32_t maxEntries,
                                    const notes::SyncChunkFilter& filter, NCSuccess<notes::SyncChunk> success,
                                    NCFailure failure) const;
  void getLinkedNotebookSyncState(const notes::LinkedNotebook& linkedNotebook, NCSuccess<notes::SyncState> success,
                                  NCFailure failure) const;
  void getLinkedNotebookSyncChunk(const notes::LinkedNotebook& linkedNotebook, std::int32_t afterUSN,
                                  std::int32_t maxEntries, bool fullSyncOnly, NCSuccess<notes::SyncChunk> success,
                                  NCFailure failure) const;
  void listNotebooksWithSuccess(NCSuccess<std::vector<notes::Notebook>> success, NCFailure failure) const;
  void getNotebookWithGuid(const Guid& guid, NCSuccess<notes::Notebook> success, NCFailure failure) const;
  void getDefaultNotebookWithSuccess(NCSuccess<notes::Notebook> success, NCFailure failure) const;
  void createNotebook(const notes::Notebook& notebook, NCSuccess<notes::Notebook> success, NCFailure failure) const;
  void listTagsWithSuccess(NCSuccess<std::vector<notes::Tag>> success, NCFailure failure) const;
  void listTagsByNotebookWithGuid(const Guid& guid, NCSuccess<std::vector<notes::Tag>> success,
                                  NCFailure failure) const;
  void getTagWithGuid(const Guid& guid, NCSuccess<notes::Tag> success, NCFailure failure) const;
  void createTag(const notes::Tag& tag, NCSuccess<notes::Tag> success, NCFailure failure) const;
  void listSearchesWithSuccess(NCSuccess<std::vector<notes::SavedSearch>> success, NCFailure failure) const;
  void getSearchWithGuid(const Guid& guid, NCSuccess<notes::SavedSearch> success, NCFailure failure) const;
  void createSearch(const notes::SavedSearch& search, NCSuccess<notes::SavedSearch> success, NCFailure failure) const;
  void findNotesWithFilter(const notes::NoteFilter& filter, std::int32_t offset, std::int32_t maxNotes,
                           NCSuccess<notes::NoteList> success, NCFailure failure) const;
  void findNotesMetadataWithFilter(const notes::NoteFilter& filter, std::int32_t offset, std::int32_t maxNotes,
                                   const notes::NotesMetadataResultSpec& resultSpec,
                                   NCSuccess<notes::NotesMetadataList> success, NCFailure failure) const;
  void findNoteCountsWithFilter(const notes::NoteFilter& filter, bool withTrash,
                                NCSuccess<notes::NoteCollectionCounts> success, NCFailure failure) const;
  void getNoteWithGuid(const Guid& guid, bool withContent, bool withResourcesData, bool withResourcesRecognition,
                       bool withResourcesAlternateData, NCSuccess<notes::Note> success, NCFailure failure) const;
  void getNoteApplicationDataWithGuid(const Guid& guid, NCSuccess<notes::LazyMap> success, NCFailure failure) const;
  void getNoteApplicationDataEntryWithGuid(const Guid& guid, const std::string& key, NCSuccess<std::string> success,
                                           NCFailure failure) const;
  void getNoteContentWithGuid(const Guid& guid, NCSuccess<std::string> success, NCFailure failure) const;
  void getNoteSearchTextWithGuid(const Guid& guid, bool noteOnly, bool tokenizeForIndexing,
                                 NCSuccess<std::string> success, NCFailure failure) const;
  void getResourceSearchTextWithGuid(const Guid& guid, NCSuccess<std::string> success, NCFailure failure) const;
  void getNoteTagNamesWithGuid(const Guid& guid, NCSuccess<std::vector<std::string>> success,
                               NCFailure failure) const;
  void createNote(const notes::Note& note, NCSuccess<notes::Note> success, NCFailure failure) const;
  void updateNote(const notes::Note& note, NCSuccess<notes::Note> success, NCFailure failure) const;
  void copyNoteWithGuid(const Guid& guid, const Guid& toNotebookGuid, NCSuccess<notes::Note> success,
                        NCFailure failure) const;
  void listNoteVersionsWithGuid(const Guid& guid, NCSuccess<std::vector<notes::NoteVersionId>> success,
                                NCFailure failure) const;
  void getNoteVersionWithGuid(const Guid& guid, std::int32_t updateSequenceNum, bool withResourcesData,
                              bool withResourcesRecognition, bool withResourcesAlternateData,
                              NCSuccess<notes::Note> success, NCFailure failure) const;
  void getResourceWithGuid(const Guid& guid, bool withData, bool withRecognition, bool withAttributes,
                           bool withAlternateData, NCSuccess<notes::Resource> success, NCFailure failure) const;
  void getResourceApplicationDataWithGuid(const Guid& guid, NCSuccess<notes::LazyMap> success,
                                          NCFailure failure) const;
  void getResourceApplicationDataEntryWithGuid(const Guid& guid, const std::string& key,
                                               NCSuccess<std::string> success, NCFailure failure) const;
  void getResourceDataWithGuid(const Guid& guid, NCSuccess<std::string> success, NCFailure failure) const;
  void getResourceByHashWithGuid(const Guid& guid, const std::string& contentHash, bool withData,
                                 bool withRecognition, bool withAlternateData, NCSuccess<notes::Resource> success,
                                 NCFailure failure) const;
  void getResourceRecognitionWithGuid(const Guid& guid, NCSuccess<std::string> success, NCFailure failure) const;
  void getResourceAlternateDataWithGuid(const Guid& guid, NCSuccess<std::string> success, NCFailure failure) const;
  void getResourceAttributesWithGuid(const Guid& guid, NCSuccess<notes::ResourceAttributes> success,
                                     NCFailure failure) const;
  void getAdsWithParameters(const notes::AdParameters& parameters, NCSuccess<std::vector<notes::Ad>> success,
                            NCFailure failure) const;
  void getRandomAdWithParameters(const notes::AdParameters& parameters, NCSuccess<notes::Ad> success,
                                 NCFailure failure) const;
  // No token: the user id and the public URI only.
  void getPublicNotebookWithUserID(std::int32_t userId, const std::string& publicUri,
                                   NCSuccess<notes::Notebook> success, NCFailure failure) const;
  void createSharedNotebook(const notes::SharedNotebook& sharedNotebook, NCSuccess<notes::SharedNotebook> success,
                            NCFailure failure) const;
  void listSharedNotebooksWithSuccess(NCSuccess<std::vector<notes::SharedNotebook>> success, NCFailure failure) const;
  void createLinkedNotebook(const notes::LinkedNotebook& linkedNotebook, NCSuccess<notes::LinkedNotebook> success,
                            NCFailure failure) const;
  void listLinkedNotebooksWithSuccess(NCSuccess<std::vector<notes::LinkedNotebook>> success, NCFailure failure) const;
  // The share key first, the token second.
  void authenticateToSharedNotebookWithShareKey(const std::string& shareKey,
                                                NCSuccess<notes::AuthenticationResult> success,
                                                NCFailure failure) const;
  void getSharedNotebookByAuthWithSuccess(NCSuccess<notes::SharedNotebook> success, NCFailure failure) const;
  void shareNoteWithGuid(const Guid& guid, NCSuccess<std::string> success, NCFailure failure) const;
  // No token: the note's GUID and key.
  void authenticateToSharedNoteWithGuid(const Guid& guid, const std::string& noteKey,
                                        NCSuccess<notes::AuthenticationResult> success, NCFailure failure) const;
};

}  // namespace zv
