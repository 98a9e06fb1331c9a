// The note service's remote interface as this client uses it: a user store (login-free calls and
// account information) and a note store (notes, notebooks, tags, searches, resources, sharing),
// reached over HTTP with the binary protocol.
//
// Field numbers are fixed once chosen: add new fields with new numbers, never renumber. Where the
// client's callers name a value but not its type, the plainest type that fits is used and noted.

namespace cpp zv.notes

typedef string Guid
// Milliseconds since 1970.
typedef i64 Timestamp
typedef i32 UserID

exception UserException {
  1: i32 errorCode,
  2: optional string parameter,
}

exception SystemException {
  1: i32 errorCode,
  2: optional string message,
  3: optional string parameter,
}

exception NotFoundException {
  1: optional string identifier,
  2: optional string key,
}

struct Data {
  1: optional binary bodyHash,
  2: optional i32 size,
  3: optional binary body,
}

struct ResourceAttributes {
  1: optional string sourceURL,
  2: optional string fileName,
}

struct Resource {
  1: optional Guid guid,
  2: optional Guid noteGuid,
  3: optional Data data,
  4: optional string mime,
  5: optional i16 width,
  6: optional i16 height,
  7: optional Data recognition,
  8: optional ResourceAttributes attributes,
  9: optional Data alternateData,
}

struct NoteAttributes {
  1: optional string sourceURL,
  2: optional string author,
}

struct Note {
  1: optional Guid guid,
  2: optional string title,
  3: optional string content,
  4: optional binary contentHash,
  5: optional Timestamp created,
  6: optional Timestamp updated,
  7: optional Guid notebookGuid,
  8: optional list<Guid> tagGuids,
  9: optional list<Resource> resources,
  10: optional NoteAttributes attributes,
  11: optional list<string> tagNames,
  12: optional i32 updateSequenceNum,
}

struct Notebook {
  1: optional Guid guid,
  2: optional string name,
  3: optional bool defaultNotebook,
  4: optional i32 updateSequenceNum,
}

struct Tag {
  1: optional Guid guid,
  2: optional string name,
  3: optional Guid parentGuid,
  4: optional i32 updateSequenceNum,
}

struct SavedSearch {
  1: optional Guid guid,
  2: optional string name,
  3: optional string query,
  4: optional i32 updateSequenceNum,
}

// Application data of a note or resource: the keys only, or keys with values.
struct LazyMap {
  1: optional set<string> keysOnly,
  2: optional map<string, string> fullMap,
}

struct SyncState {
  1: Timestamp currentTime,
  2: Timestamp fullSyncBefore,
  3: i32 updateCount,
  4: optional i64 uploaded,
}

struct SyncChunk {
  1: Timestamp currentTime,
  2: optional i32 chunkHighUSN,
  3: i32 updateCount,
  4: optional list<Note> notes,
  5: optional list<Notebook> notebooks,
  6: optional list<Tag> tags,
  7: optional list<SavedSearch> searches,
  8: optional list<Resource> resources,
}

struct SyncChunkFilter {
  1: optional bool includeNotes,
  2: optional bool includeNotebooks,
  3: optional bool includeTags,
  4: optional bool includeSearches,
  5: optional bool includeResources,
}

struct NoteFilter {
  1: optional i32 order,
  2: optional bool ascending,
  3: optional string words,
  4: optional Guid notebookGuid,
  5: optional list<Guid> tagGuids,
  6: optional bool inactive,
}

struct NoteList {
  1: i32 startIndex,
  2: i32 totalNotes,
  3: list<Note> notes,
}

struct NotesMetadataResultSpec {
  1: optional bool includeTitle,
  2: optional bool includeCreated,
  3: optional bool includeNotebookGuid,
}

struct NoteMetadata {
  1: Guid guid,
  2: optional string title,
  3: optional Timestamp created,
  4: optional Guid notebookGuid,
}

struct NotesMetadataList {
  1: i32 startIndex,
  2: i32 totalNotes,
  3: list<NoteMetadata> notes,
}

struct NoteCollectionCounts {
  1: optional map<Guid, i32> notebookCounts,
  2: optional map<Guid, i32> tagCounts,
  3: optional i32 trashCount,
}

struct NoteVersionId {
  1: i32 updateSequenceNum,
  2: Timestamp updated,
  3: Timestamp saved,
  4: string title,
}

struct AdParameters {
  1: optional string clientLanguage,
  2: optional bool supportHtml,
}

struct Ad {
  1: optional i32 id,
  2: optional i16 width,
  3: optional i16 height,
  4: optional string html,
  5: optional string imageUrl,
}

struct NoteEmailParameters {
  1: optional Guid guid,
  2: optional Note note,
  3: optional list<string> toAddresses,
  4: optional list<string> ccAddresses,
  5: optional string subject,
  6: optional string message,
}

struct SharedNotebook {
  1: optional i64 id,
  2: optional UserID userId,
  3: optional Guid notebookGuid,
  4: optional string email,
  5: optional string shareKey,
  6: optional string username,
}

struct LinkedNotebook {
  1: optional string shareName,
  2: optional string username,
  3: optional string shardId,
  4: optional string shareKey,
  5: optional string uri,
  6: optional Guid guid,
  7: optional i32 updateSequenceNum,
  8: optional string noteStoreUrl,
}

struct User {
  1: optional UserID id,
  2: optional string username,
  3: optional string email,
  4: optional string name,
  5: optional i32 privilege,
}

struct PublicUserInfo {
  1: UserID userId,
  2: optional string shardId,
  3: optional string username,
  4: optional string noteStoreUrl,
  5: optional string webApiUrlPrefix,
}

struct AuthenticationResult {
  1: Timestamp currentTime,
  2: string authenticationToken,
  3: Timestamp expiration,
  4: optional User user,
  5: optional PublicUserInfo publicUserInfo,
  6: optional string noteStoreUrl,
  7: optional string webApiUrlPrefix,
}

struct PremiumInfo {
  1: Timestamp currentTime,
  2: bool premium,
  3: bool premiumRecurring,
  4: optional Timestamp premiumExpirationDate,
}

struct BootstrapProfile {
  1: string name,
  2: string serviceHost,
  3: optional string marketingUrl,
  4: optional string supportUrl,
}

struct BootstrapInfo {
  1: list<BootstrapProfile> profiles,
}

service UserStore {
  // The version pair is two 16-bit numbers.
  bool checkVersion(1: string clientName, 2: i16 edamVersionMajor, 3: i16 edamVersionMinor),
  BootstrapInfo getBootstrapInfo(1: string locale),
  User getUser(1: string authenticationToken)
      throws (1: UserException userException, 2: SystemException systemException),
  PublicUserInfo getPublicUserInfo(1: string username)
      throws (1: NotFoundException notFoundException, 2: SystemException systemException,
              3: UserException userException),
  PremiumInfo getPremiumInfo(1: string authenticationToken)
      throws (1: UserException userException, 2: SystemException systemException),
  string getNoteStoreUrl(1: string authenticationToken)
      throws (1: UserException userException, 2: SystemException systemException),
}

service NoteStore {
  SyncState getSyncState(1: string authenticationToken)
      throws (1: UserException userException, 2: SystemException systemException),
  SyncChunk getSyncChunk(1: string authenticationToken, 2: i32 afterUSN, 3: i32 maxEntries, 4: bool fullSyncOnly)
      throws (1: UserException userException, 2: SystemException systemException),
  SyncChunk getFilteredSyncChunk(1: string authenticationToken, 2: i32 afterUSN, 3: i32 maxEntries,
                                 4: SyncChunkFilter filter)
      throws (1: UserException userException, 2: SystemException systemException),
  SyncState getLinkedNotebookSyncState(1: string authenticationToken, 2: LinkedNotebook linkedNotebook)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  SyncChunk getLinkedNotebookSyncChunk(1: string authenticationToken, 2: LinkedNotebook linkedNotebook,
                                       3: i32 afterUSN, 4: i32 maxEntries, 5: bool fullSyncOnly)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  list<Notebook> listNotebooks(1: string authenticationToken)
      throws (1: UserException userException, 2: SystemException systemException),
  Notebook getNotebook(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  Notebook getDefaultNotebook(1: string authenticationToken)
      throws (1: UserException userException, 2: SystemException systemException),
  Notebook createNotebook(1: string authenticationToken, 2: Notebook notebook)
      throws (1: UserException userException, 2: SystemException systemException),
  i32 updateNotebook(1: string authenticationToken, 2: Notebook notebook)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 expungeNotebook(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  list<Tag> listTags(1: string authenticationToken)
      throws (1: UserException userException, 2: SystemException systemException),
  list<Tag> listTagsByNotebook(1: string authenticationToken, 2: Guid notebookGuid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  Tag getTag(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  Tag createTag(1: string authenticationToken, 2: Tag tag)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 updateTag(1: string authenticationToken, 2: Tag tag)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  void untagAll(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 expungeTag(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  list<SavedSearch> listSearches(1: string authenticationToken)
      throws (1: UserException userException, 2: SystemException systemException),
  SavedSearch getSearch(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  SavedSearch createSearch(1: string authenticationToken, 2: SavedSearch search)
      throws (1: UserException userException, 2: SystemException systemException),
  i32 updateSearch(1: string authenticationToken, 2: SavedSearch search)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 expungeSearch(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  NoteList findNotes(1: string authenticationToken, 2: NoteFilter filter, 3: i32 offset, 4: i32 maxNotes)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 findNoteOffset(1: string authenticationToken, 2: NoteFilter filter, 3: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  NotesMetadataList findNotesMetadata(1: string authenticationToken, 2: NoteFilter filter, 3: i32 offset,
                                      4: i32 maxNotes, 5: NotesMetadataResultSpec resultSpec)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  NoteCollectionCounts findNoteCounts(1: string authenticationToken, 2: NoteFilter filter, 3: bool withTrash)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  Note getNote(1: string authenticationToken, 2: Guid guid, 3: bool withContent, 4: bool withResourcesData,
               5: bool withResourcesRecognition, 6: bool withResourcesAlternateData)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  LazyMap getNoteApplicationData(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  string getNoteApplicationDataEntry(1: string authenticationToken, 2: Guid guid, 3: string key)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 setNoteApplicationDataEntry(1: string authenticationToken, 2: Guid guid, 3: string key, 4: string value)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 unsetNoteApplicationDataEntry(1: string authenticationToken, 2: Guid guid, 3: string key)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  string getNoteContent(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  string getNoteSearchText(1: string authenticationToken, 2: Guid guid, 3: bool noteOnly,
                           4: bool tokenizeForIndexing)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  string getResourceSearchText(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  list<string> getNoteTagNames(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  Note createNote(1: string authenticationToken, 2: Note note)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  Note updateNote(1: string authenticationToken, 2: Note note)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 deleteNote(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 expungeNote(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 expungeNotes(1: string authenticationToken, 2: list<Guid> noteGuids)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 expungeInactiveNotes(1: string authenticationToken)
      throws (1: UserException userException, 2: SystemException systemException),
  Note copyNote(1: string authenticationToken, 2: Guid noteGuid, 3: Guid toNotebookGuid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  list<NoteVersionId> listNoteVersions(1: string authenticationToken, 2: Guid noteGuid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  Note getNoteVersion(1: string authenticationToken, 2: Guid noteGuid, 3: i32 updateSequenceNum,
                      4: bool withResourcesData, 5: bool withResourcesRecognition,
                      6: bool withResourcesAlternateData)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  Resource getResource(1: string authenticationToken, 2: Guid guid, 3: bool withData, 4: bool withRecognition,
                       5: bool withAttributes, 6: bool withAlternateData)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  LazyMap getResourceApplicationData(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  string getResourceApplicationDataEntry(1: string authenticationToken, 2: Guid guid, 3: string key)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 setResourceApplicationDataEntry(1: string authenticationToken, 2: Guid guid, 3: string key, 4: string value)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 unsetResourceApplicationDataEntry(1: string authenticationToken, 2: Guid guid, 3: string key)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  i32 updateResource(1: string authenticationToken, 2: Resource resource)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  binary getResourceData(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  Resource getResourceByHash(1: string authenticationToken, 2: Guid noteGuid, 3: binary contentHash,
                             4: bool withData, 5: bool withRecognition, 6: bool withAlternateData)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  binary getResourceRecognition(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  binary getResourceAlternateData(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  ResourceAttributes getResourceAttributes(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: SystemException systemException,
              3: NotFoundException notFoundException),
  list<Ad> getAds(1: string authenticationToken, 2: AdParameters adParameters)
      throws (1: UserException userException, 2: SystemException systemException),
  Ad getRandomAd(1: string authenticationToken, 2: AdParameters adParameters)
      throws (1: UserException userException, 2: SystemException systemException),
  Notebook getPublicNotebook(1: UserID userId, 2: string publicUri)
      throws (1: SystemException systemException, 2: NotFoundException notFoundException),
  SharedNotebook createSharedNotebook(1: string authenticationToken, 2: SharedNotebook sharedNotebook)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  i32 sendMessageToSharedNotebookMembers(1: string authenticationToken, 2: Guid notebookGuid,
                                         3: string messageText, 4: list<string> recipients)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  list<SharedNotebook> listSharedNotebooks(1: string authenticationToken)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  i32 expungeSharedNotebooks(1: string authenticationToken, 2: list<i64> sharedNotebookIds)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  LinkedNotebook createLinkedNotebook(1: string authenticationToken, 2: LinkedNotebook linkedNotebook)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  i32 updateLinkedNotebook(1: string authenticationToken, 2: LinkedNotebook linkedNotebook)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  list<LinkedNotebook> listLinkedNotebooks(1: string authenticationToken)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  i32 expungeLinkedNotebook(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  AuthenticationResult authenticateToSharedNotebook(1: string shareKey, 2: string authenticationToken)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  SharedNotebook getSharedNotebookByAuth(1: string authenticationToken)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  void emailNote(1: string authenticationToken, 2: NoteEmailParameters parameters)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  string shareNote(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  void stopSharingNote(1: string authenticationToken, 2: Guid guid)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
  AuthenticationResult authenticateToSharedNote(1: string guid, 2: string noteKey)
      throws (1: UserException userException, 2: NotFoundException notFoundException,
              3: SystemException systemException),
}
