"""The Python binding against the library the build made (QVBACKUP_LIBRARY)."""

import os

import pytest

import qvbackup


@pytest.fixture
def tree(tmp_path):
    source = tmp_path / "src"
    (source / "docs").mkdir(parents=True)
    (source / "a.txt").write_bytes(b"first file\n")
    (source / "docs" / "letter.txt").write_bytes(os.urandom(150000))
    return source


def restored(target, source_file):
    # TARGET/Kelvar_C/<the path after the drive>, C being "/".
    return target / "Kelvar_C" / str(source_file).lstrip("/")


def test_version_is_the_library_s():
    parts = qvbackup.version().split(".")
    assert len(parts) == 3 and all(part.isdigit() for part in parts)


def test_backup_list_restore_one_file_verify(tree, tmp_path):
    percents = []
    result = qvbackup.backup([tree], to=tmp_path / "arch", name="docs", progress=percents.append)
    assert (result.files, result.bytes, result.increment) == (2, 150011, 0)
    assert result.archive == str(tmp_path / "arch" / "docs.QVA")
    assert percents and percents[-1] == 100

    items = qvbackup.list(result.archive)
    assert sorted(os.path.basename(item["path"].replace("\\", "/")) for item in items) == ["a.txt", "letter.txt"]
    letter = next(item for item in items if item["path"].endswith("letter.txt"))
    assert letter["size"] == 150000
    assert letter["mtime"] == int(os.stat(tree / "docs" / "letter.txt").st_mtime)
    assert letter["member"] == 0

    answer = qvbackup.restore(result.archive, to=tmp_path / "back", patterns=["letter.txt"])
    assert answer["files"] == 1
    assert restored(tmp_path / "back", tree / "docs" / "letter.txt").read_bytes() == \
        (tree / "docs" / "letter.txt").read_bytes()
    assert not restored(tmp_path / "back", tree / "a.txt").exists()
    assert qvbackup.verify(result.archive)["ok"] is True


def test_password_volumes_threads_and_an_increment(tree, tmp_path):
    result = qvbackup.backup([tree], to=tmp_path / "arch", name="safe", password="s3cret", volume_size=65536,
                             threads=2)
    assert result.volumes >= 2
    with pytest.raises(qvbackup.QvbackupError) as missing:
        qvbackup.list(result.archive)
    assert missing.value.errno == 86 and "qvb_session_set_password" in missing.value.message
    with pytest.raises(qvbackup.QvbackupError) as wrong:
        qvbackup.list(result.archive, password="guess")
    assert wrong.value.errno == 1323

    (tree / "b.txt").write_bytes(b"new\n")
    step = qvbackup.backup([tree], to=tmp_path / "arch", name="safe", password="s3cret", incremental=True,
                           volume_size=65536)
    assert (step.increment, step.files) == (1, 1)
    assert [m["number"] for m in qvbackup.members(result.archive, password="s3cret")] == [0, 1]
    assert len(qvbackup.list(result.archive, password="s3cret")) == 3
    assert len(qvbackup.list(result.archive, password="s3cret", as_of=0)) == 2


def test_failures_raise_with_number_text_and_message(tree, tmp_path):
    with pytest.raises(qvbackup.QvbackupError) as no_archive:
        qvbackup.list(tmp_path / "none.QVA")
    assert no_archive.value.errno == 2
    assert "none.QVA" in no_archive.value.message
    assert no_archive.value.text

    qvbackup.backup([tree], to=tmp_path / "arch", name="once")
    with pytest.raises(qvbackup.QvbackupError) as again:
        qvbackup.backup([tree], to=tmp_path / "arch", name="once")
    assert again.value.errno == 183
    with pytest.raises(qvbackup.QvbackupError) as field:
        qvbackup.backup([tree], to=tmp_path / "arch", name="small", volume_size=10)
    assert field.value.errno == 87 and field.value.message.startswith("options.volume_size")
    assert not list((tmp_path / "arch").glob("small*"))


def test_damage_is_raised_with_each_finding(tree, tmp_path):
    result = qvbackup.backup([tree], to=tmp_path / "arch", name="hurt")
    data = bytearray(open(result.archive, "rb").read())
    middle = len(data) // 2
    data[middle:middle + 16] = b"\0" * 16 if data[middle:middle + 16] != b"\0" * 16 else b"\1" * 16
    open(result.archive, "wb").write(bytes(data))
    with pytest.raises(qvbackup.QvbackupError) as damaged:
        qvbackup.verify(result.archive)
    assert damaged.value.errno == 0x20000002
    assert damaged.value.details


def test_an_exception_in_progress_cancels_the_run(tree, tmp_path):
    def interrupted(_percent):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        qvbackup.backup([tree], to=tmp_path / "arch", name="p", progress=interrupted)
    assert not list((tmp_path / "arch").glob("p*")), "a cancelled backup leaves nothing"
    # The next run is not cancelled.
    assert qvbackup.backup([tree], to=tmp_path / "arch", name="p").files == 2


@pytest.mark.skipif(os.name != "posix", reason="POSIX names are bytes")
def test_a_name_that_is_not_utf8_lists_and_restores_by_its_bytes(tmp_path):
    source = tmp_path / "src"
    source.mkdir()
    odd = os.fsdecode(b"caf\xe9.txt")  # Latin-1, not UTF-8
    (source / odd).write_bytes(b"menu")
    result = qvbackup.backup([source], to=tmp_path / "arch", name="odd")
    [item] = qvbackup.list(result.archive)
    assert os.fsencode(item["path"].rsplit("\\", 1)[1]) == b"caf\xe9.txt"
    qvbackup.restore(result.archive, to=tmp_path / "back", patterns=[odd])
    assert restored(tmp_path / "back", source / odd).read_bytes() == b"menu"
