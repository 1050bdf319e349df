"""Fixture products for the end-to-end tests.

build_product_msi() writes a small Windows Installer package with wixl: a
product with a given product code, ProductVersion, ProductLanguage and
ProductName, optional extra Property rows, and one component (a registry
value) so that installing it registers the product like any other.

PRODUCT_CODES and PATCH_CODE are those of the sample patch package
(resources/sample/make_sample_msp.py), so fixtures can be made for the
products that the service pack targets.
"""

import importlib.util
import os
import pathlib
import subprocess
import uuid
from xml.sax.saxutils import quoteattr

SOURCE_DIR = pathlib.Path(
    os.environ.get("SP_SOURCE_DIR") or pathlib.Path(__file__).resolve().parents[2]
)


def _load_sample():
    path = SOURCE_DIR / "resources" / "sample" / "make_sample_msp.py"
    found = importlib.util.spec_from_file_location("make_sample_msp", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


_SAMPLE = _load_sample()
# The products the sample patch may be applied to, in the order of its list.
PRODUCT_CODES = list(_SAMPLE.PRODUCT_CODES)
PATCH_CODE = _SAMPLE.PATCH_CODE

# Names derived from a product code, so that every fixture product has its
# own upgrade code, component and registry key.
_NAMESPACE = uuid.UUID("6f1c2a52-93a4-4c11-9d0e-2b7e4e7a5c10")


def _derived_guid(code, role):
    return "{%s}" % str(uuid.uuid5(_NAMESPACE, role + code.upper())).upper()


def packed_code(code):
    """The 32-character form under which Windows Installer registers a
    product code: the first three groups reversed, the characters of each
    pair of the last two groups swapped."""
    digits = code.strip("{}").split("-")
    first = [group[::-1] for group in digits[:3]]
    rest = "".join(digits[3:])
    pairs = "".join(rest[i + 1] + rest[i] for i in range(0, len(rest), 2))
    return "".join(first) + pairs


def install_properties_key(code):
    """The registry key (under HKEY_LOCAL_MACHINE) of a per-machine
    product's installation properties, such as DisplayVersion."""
    return (
        "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\"
        "S-1-5-18\\Products\\%s\\InstallProperties" % packed_code(code)
    )


def product_wxs(code, version, language, name, properties=(), manufacturer="Corvane"):
    """The WiX source of a fixture product. `properties` is a sequence of
    (name, value) pairs or a dict, added as Property rows."""
    if isinstance(properties, dict):
        properties = properties.items()
    rows = "".join(
        "    <Property Id=%s Value=%s />\n" % (quoteattr(k), quoteattr(v))
        for k, v in properties
    )
    key = "Software\\CorvaneFixture\\" + code
    return f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id={quoteattr(code)} Name={quoteattr(name)} Language="{int(language)}"
           Version={quoteattr(version)} Manufacturer={quoteattr(manufacturer)}
           UpgradeCode="{_derived_guid(code, "upgrade")}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine" />
{rows}    <Directory Id="TARGETDIR" Name="SourceDir">
      <Component Id="Registration" Guid="{_derived_guid(code, "component")}">
        <RegistryValue Root="HKLM" Key={quoteattr(key)} Name="Installed"
                       Type="integer" Value="1" KeyPath="yes" />
      </Component>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Registration" /></Feature>
  </Product>
</Wix>
"""


def build_product_msi(
    path, code, version, language, name, properties=(), manufacturer="Corvane"
):
    """Writes the fixture product's package to `path` with wixl and returns
    the path. Raises CalledProcessError when wixl rejects it."""
    path = pathlib.Path(path)
    source = path.with_suffix(".wxs")
    source.write_text(
        product_wxs(code, version, language, name, properties, manufacturer),
        encoding="utf-8",
    )
    subprocess.run(
        ["wixl", "-o", str(path), str(source)],
        check=True,
        capture_output=True,
        timeout=120,
    )
    return path
