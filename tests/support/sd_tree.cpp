#include "support/sd_tree.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "card/card.h"
#include "card/card_messages.h"
#include "io/file.h"
#include "io/fs_path.h"
#include "support/card_builder.h"

namespace testutil {

std::unique_ptr<CSaveGame> MakeSave(const TempDir& dir, const SaveRecipe& recipe) {
  auto save = std::make_unique<CGeneric>();
  const std::string file = dir.File("data-" + std::to_string(recipe.seed) + "-" + std::to_string(recipe.bytes));
  WriteFile(file, MakeBytes(recipe.bytes, recipe.seed));
  save->AddEntryFromDisk(file, "DATA");
  save->SetName(-1, recipe.folder);
  save->SetCreated(-1, recipe.modified);
  save->SetModified(-1, recipe.modified);
  return save;
}

std::string PutCard(const TempDir& dir, const std::string& root, const std::string& relative,
                    const std::vector<SaveRecipe>& saves, bool ecc) {
  const std::string path = io::JoinPath(root, relative);
  std::filesystem::create_directories(io::ToFsPath(path).parent_path());
  CardFile::Format(path, ecc);
  card::OpenedCard opened = card::OpenCard(path);
  EXPECT_TRUE(opened.card) << path;
  if (!opened.card) return path;
  for (const SaveRecipe& recipe : saves) {
    const card::ImportOutcome out = opened.card->Import(*MakeSave(dir, recipe));
    EXPECT_EQ(out.result, card::ImportResult::kImported) << card::messages::ImportMessage(out);
  }
  return path;
}

std::vector<std::string> FoldersOn(const std::string& card) {
  std::vector<std::string> folders;
  card::OpenedCard opened = card::OpenCard(card);
  if (!opened.card) return {"(not a card)"};
  for (const card::SaveInfo& s : opened.card->List().saves) folders.push_back(s.folder);
  return folders;
}

}  // namespace testutil
