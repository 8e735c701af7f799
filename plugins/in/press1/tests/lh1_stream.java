// Compresses files with the -lh1- method of the jlha library (jlha-utils),
// writing the bare compressed stream without an archive around it. Run as a
// single source file: java -cp /usr/share/java/jlha.jar lh1_stream.java IN OUT...
import java.io.FileOutputStream;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Properties;
import jp.gr.java_conf.dangan.util.lha.CompressMethod;

public class Lh1Stream {
  public static void main(String[] args) throws Exception {
    for (int i = 0; i + 1 < args.length; i += 2) {
      byte[] data = Files.readAllBytes(Path.of(args[i]));
      try (OutputStream out = CompressMethod.connectEncoder(
               new FileOutputStream(args[i + 1]), CompressMethod.LH1, new Properties())) {
        out.write(data);
      }
    }
  }
}
